#include <QPainter>
#include <QtTest>

#include "common/qtawesome.h"
#include "common/qtawesomechariconpainter.h"

using KOV::QtAwesome;
using KOV::QtAwesomeCharIconPainter;

static QImage drawReference(const QString &family, int pixelSize, const QSize &size,
                            const QColor &color = Qt::white)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    QFont font(family);
    font.setPixelSize(pixelSize);
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRect(QPoint(0, 0), size), Qt::AlignCenter, QString(QChar(0xF072)));
    painter.end();
    // The same trip through a pixmap as the icon's own image takes.
    return QPixmap::fromImage(image).toImage().convertToFormat(QImage::Format_ARGB32);
}

class TestQtAwesome final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void optionLookup_data();
    void optionLookup();
    void givenOptionsKeepOtherDefaults();
    void glyphSize_data();
    void glyphSize();
    void twentyPixelRectDrawsEighteenPixelGlyph();
    void disabledModeUsesItsColour();
    void sharedFactoryIsWhiteAndDarkOptionsBlack();
};

void TestQtAwesome::initTestCase()
{
    QVERIFY(KOV::sharedIcons()->initFontAwesome());
    QCOMPARE(KOV::sharedIcons()->fontName(), QStringLiteral("FontAwesome"));
}

void TestQtAwesome::optionLookup_data()
{
    QTest::addColumn<QVariantMap>("options");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("expected");

    const QVariantMap full {
        { "color", "base" },    { "color-disabled", "disabled" }, { "color-disabled-off", "disabled-off" },
        { "color-off", "off" }, { "color-active", "active" },
    };
    QTest::newRow("normal on") << full << int(QIcon::Normal) << int(QIcon::On) << "base";
    QTest::newRow("normal off") << full << int(QIcon::Normal) << int(QIcon::Off) << "off";
    QTest::newRow("disabled on") << full << int(QIcon::Disabled) << int(QIcon::On) << "disabled";
    QTest::newRow("disabled off") << full << int(QIcon::Disabled) << int(QIcon::Off) << "disabled-off";
    QTest::newRow("active off without combined key")
        << full << int(QIcon::Active) << int(QIcon::Off) << "active";
    QTest::newRow("selected falls back to off") << full << int(QIcon::Selected) << int(QIcon::Off) << "off";
    QTest::newRow("selected on falls back to base")
        << full << int(QIcon::Selected) << int(QIcon::On) << "base";
    QTest::newRow("empty text skipped") << QVariantMap { { "color", "base" }, { "color-disabled", "" } }
                                        << int(QIcon::Disabled) << int(QIcon::On) << "base";
    QTest::newRow("nothing at all") << QVariantMap() << int(QIcon::Disabled) << int(QIcon::Off) << "";
}

void TestQtAwesome::optionLookup()
{
    QFETCH(QVariantMap, options);
    QFETCH(int, mode);
    QFETCH(int, state);
    QFETCH(QString, expected);
    const QVariant value = QtAwesomeCharIconPainter::optionValueForModeAndState(
        options, QStringLiteral("color"), QIcon::Mode(mode), QIcon::State(state));
    QCOMPARE(value.toString(), expected);
}

void TestQtAwesome::givenOptionsKeepOtherDefaults()
{
    QtAwesome awesome;
    QVERIFY(awesome.initFontAwesome());
    const QIcon icon = awesome.icon(0xF072, { { QStringLiteral("color"), QColor(Qt::red) } });
    const QSize size(32, 32);
    // Normal mode takes the given colour, disabled mode still the factory's default grey.
    QCOMPARE(icon.pixmap(size, QIcon::Normal).toImage().convertToFormat(QImage::Format_ARGB32),
             drawReference(awesome.fontName(), 29, size, Qt::red));
    QCOMPARE(icon.pixmap(size, QIcon::Disabled).toImage().convertToFormat(QImage::Format_ARGB32),
             drawReference(awesome.fontName(), 29, size, QColor(70, 70, 70, 60)));
    QVERIFY(icon.pixmap(size, QIcon::Disabled).toImage().convertToFormat(QImage::Format_ARGB32)
            != drawReference(awesome.fontName(), 29, size, Qt::red));
}

void TestQtAwesome::glyphSize_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("pixels");
    QTest::newRow("default scale, 20") << 20 << 0.9 << 18;
    QTest::newRow("default scale, 16") << 16 << 0.9 << 14;
    QTest::newRow("half rounds up") << 5 << 0.9 << 5;
    QTest::newRow("full scale") << 56 << 1.0 << 56;
}

void TestQtAwesome::glyphSize()
{
    QFETCH(int, height);
    QFETCH(double, scale);
    QFETCH(int, pixels);
    QCOMPARE(QtAwesomeCharIconPainter::glyphPixelSize(height, { { QStringLiteral("scale-factor"), scale } }),
             pixels);
}

void TestQtAwesome::twentyPixelRectDrawsEighteenPixelGlyph()
{
    const QString family = KOV::sharedIcons()->fontName();
    const QImage drawn = KOV::sharedIcons()
                             ->icon(0xF072)
                             .pixmap(QSize(20, 20))
                             .toImage()
                             .convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(drawn.size(), QSize(20, 20));
    QCOMPARE(drawn, drawReference(family, 18, QSize(20, 20)));
    QVERIFY(drawn != drawReference(family, 17, QSize(20, 20)));
    QVERIFY(drawn != drawReference(family, 19, QSize(20, 20)));
}

void TestQtAwesome::disabledModeUsesItsColour()
{
    QVariantMap options = KOV::darkIconOptions();
    options.insert(QStringLiteral("color-disabled"), QColor(0, 0, 255));
    const QImage image
        = KOV::sharedIcons()->icon(0xF00C, options).pixmap(QSize(24, 24), QIcon::Disabled).toImage();
    int blue = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() == 0)
                continue;
            QCOMPARE(c.red(), 0);
            if (c.blue() == 255)
                ++blue;
        }
    }
    QVERIFY(blue > 10);
}

void TestQtAwesome::sharedFactoryIsWhiteAndDarkOptionsBlack()
{
    QtAwesome *shared = KOV::sharedIcons();
    QCOMPARE(shared, KOV::sharedIcons());
    QCOMPARE(shared->defaultOption(QStringLiteral("color")).value<QColor>(), QColor(255, 255, 255));
    QCOMPARE(shared->defaultOption(QStringLiteral("color-disabled")).value<QColor>(),
             QColor(255, 255, 255, 60));
    QCOMPARE(shared->defaultOption(QStringLiteral("scale-factor")).toDouble(), 0.9);
    QtAwesome plain;
    QCOMPARE(plain.defaultOption(QStringLiteral("color")).value<QColor>(), QColor(50, 50, 50));
    QCOMPARE(plain.defaultOption(QStringLiteral("color-active")).value<QColor>(), QColor(10, 10, 10));

    const QVariantMap dark = KOV::darkIconOptions();
    QCOMPARE(dark.size(), 4);
    for (const QVariant &value : dark)
        QCOMPARE(value.value<QColor>(), QColor(0, 0, 0));
}

QTEST_MAIN(TestQtAwesome)
#include "tst_qtawesome.moc"
