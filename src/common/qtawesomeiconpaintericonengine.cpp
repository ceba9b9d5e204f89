#include "common/qtawesomeiconpaintericonengine.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>

#include "common/qtawesomeiconpainter.h"

namespace KOV {

QtAwesomeIconPainterIconEngine::QtAwesomeIconPainterIconEngine(QtAwesome *awesome,
                                                               QSharedPointer<QtAwesomeIconPainter> painter,
                                                               const QVariantMap &options)
    : m_awesome(awesome)
    , m_painter(std::move(painter))
    , m_options(options)
{
}

QtAwesomeIconPainterIconEngine::~QtAwesomeIconPainterIconEngine() = default;

void QtAwesomeIconPainterIconEngine::paint(QPainter *painter, const QRect &rect, QIcon::Mode mode,
                                           QIcon::State state)
{
    m_painter->paint(m_awesome, painter, rect, mode, state, m_options);
}

QPixmap QtAwesomeIconPainterIconEngine::pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
    }
    return QPixmap::fromImage(image);
}

QIconEngine *QtAwesomeIconPainterIconEngine::clone() const
{
    return new QtAwesomeIconPainterIconEngine(m_awesome, m_painter, m_options);
}

} // namespace KOV
