#include "common/qtawesome.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFontDatabase>
#include <QPointer>

#include "common/qtawesomechariconpainter.h"
#include "common/qtawesomeiconpaintericonengine.h"

namespace KOV {

namespace {

// The font is registered once per process; every factory shares it.
int s_fontAwesomeFontId = -1;

} // namespace

QtAwesome::QtAwesome(QObject *parent)
    : QObject(parent)
    , m_charPainter(QSharedPointer<QtAwesomeCharIconPainter>::create())
{
    m_defaultOptions.insert(QStringLiteral("color"), QColor(50, 50, 50));
    m_defaultOptions.insert(QStringLiteral("color-disabled"), QColor(70, 70, 70, 60));
    m_defaultOptions.insert(QStringLiteral("color-active"), QColor(10, 10, 10));
    m_defaultOptions.insert(QStringLiteral("color-selected"), QColor(10, 10, 10));
    m_defaultOptions.insert(QStringLiteral("scale-factor"), 0.9);
}

QtAwesome::~QtAwesome() = default;

bool QtAwesome::initFontAwesome()
{
    if (s_fontAwesomeFontId < 0) {
        QFile file(QStringLiteral(":/fonts/fontawesome-4.7.0.ttf"));
        if (!file.open(QIODevice::ReadOnly)) {
            qDebug() << "Font awesome font could not be loaded!";
            return false;
        }
        const QByteArray fontData = file.readAll();
        file.close();
        s_fontAwesomeFontId = QFontDatabase::addApplicationFontFromData(fontData);
    }

    const QStringList families = QFontDatabase::applicationFontFamilies(s_fontAwesomeFontId);
    if (families.isEmpty()) {
        qDebug() << "Font awesome font is empty?!";
        s_fontAwesomeFontId = -1;
        return false;
    }
    m_fontName = families.first();
    return true;
}

QIcon QtAwesome::icon(int codepoint, const QVariantMap &options)
{
    QVariantMap merged = m_defaultOptions;
    for (auto it = options.constBegin(); it != options.constEnd(); ++it)
        merged.insert(it.key(), it.value());
    merged.insert(QStringLiteral("text"), QString(QChar(codepoint)));
    return QIcon(new QtAwesomeIconPainterIconEngine(this, m_charPainter, merged));
}

void QtAwesome::setDefaultOption(const QString &name, const QVariant &value)
{
    m_defaultOptions.insert(name, value);
}

QVariant QtAwesome::defaultOption(const QString &name) const
{
    return m_defaultOptions.value(name);
}

QFont QtAwesome::font(int pixelSize) const
{
    QFont font(m_fontName);
    font.setPixelSize(pixelSize);
    return font;
}

QtAwesome *sharedIcons()
{
    // Weak, so that a new application object (tests make several) gets a new factory.
    static QPointer<QtAwesome> shared;
    if (!shared) {
        shared = new QtAwesome(QCoreApplication::instance());
        const QColor white(255, 255, 255);
        shared->setDefaultOption(QStringLiteral("color"), white);
        shared->setDefaultOption(QStringLiteral("color-disabled"), QColor(255, 255, 255, 60));
        shared->setDefaultOption(QStringLiteral("color-active"), white);
        shared->setDefaultOption(QStringLiteral("color-selected"), white);
    }
    return shared;
}

QVariantMap darkIconOptions()
{
    const QColor black(0, 0, 0);
    return {
        { QStringLiteral("color"), black },
        { QStringLiteral("color-disabled"), black },
        { QStringLiteral("color-active"), black },
        { QStringLiteral("color-selected"), black },
    };
}

} // namespace KOV
