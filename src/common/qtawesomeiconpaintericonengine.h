#pragma once

#include <QIconEngine>
#include <QSharedPointer>
#include <QVariantMap>

namespace KOV {

class QtAwesome;
class QtAwesomeIconPainter;

/** The engine behind every icon of the icon font: paints the glyph at whatever size is asked. */
class QtAwesomeIconPainterIconEngine final : public QIconEngine
{
public:
    QtAwesomeIconPainterIconEngine(QtAwesome *awesome, QSharedPointer<QtAwesomeIconPainter> painter,
                                   const QVariantMap &options);
    ~QtAwesomeIconPainterIconEngine() override;

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override;
    QIconEngine *clone() const override;

    const QVariantMap &options() const { return m_options; }

private:
    QtAwesome *m_awesome;
    QSharedPointer<QtAwesomeIconPainter> m_painter;
    QVariantMap m_options;
};

} // namespace KOV
