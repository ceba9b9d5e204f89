#include <QFontInfo>
#include <QImageReader>
#include <QResource>
#include <QtTest>

#include "app/startup.h"

class TestResources final : public QObject
{
    Q_OBJECT
private slots:
    void imagesHaveTheirSizes_data();
    void imagesHaveTheirSizes();
    void onlyTheStyleSheetIsCompressed_data();
    void onlyTheStyleSheetIsCompressed();
    void interfaceFontResolvesToBundledFile();
};

void TestResources::imagesHaveTheirSizes_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("animated");
    QTest::newRow("splash") << ":/resources/img/splash.png" << QSize(484, 228) << false;
    QTest::newRow("logo") << ":/resources/img/store.png" << QSize(239, 46) << false;
    QTest::newRow("spinner") << ":/resources/img/loading.gif" << QSize(350, 350) << true;
}

void TestResources::imagesHaveTheirSizes()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(bool, animated);
    QImageReader reader(path);
    QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
    QCOMPARE(reader.size(), size);
    QCOMPARE(reader.supportsAnimation() && reader.imageCount() > 1, animated);
}

void TestResources::onlyTheStyleSheetIsCompressed_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("compressed");
    QTest::newRow("style sheet") << ":/resources/style.qss" << true;
    QTest::newRow("splash") << ":/resources/img/splash.png" << false;
    QTest::newRow("logo") << ":/resources/img/store.png" << false;
    QTest::newRow("spinner") << ":/resources/img/loading.gif" << false;
    QTest::newRow("regular font") << ":/resources/font/ProximaNova-Regular.otf" << false;
    QTest::newRow("bold font") << ":/resources/font/Proxima_Nova_Bold.otf" << false;
    QTest::newRow("icon font") << ":/fonts/fontawesome-4.7.0.ttf" << false;
}

void TestResources::onlyTheStyleSheetIsCompressed()
{
    QFETCH(QString, path);
    QFETCH(bool, compressed);
    QResource resource(path);
    QVERIFY2(resource.isValid(), qPrintable(path));
    QCOMPARE(resource.compressionAlgorithm() != QResource::NoCompression, compressed);
}

void TestResources::interfaceFontResolvesToBundledFile()
{
    QVERIFY(KOV::loadFonts());
    const QFont font = QApplication::font();
    QCOMPARE(font.family(), QStringLiteral("Proxima Nova Rg"));
    QCOMPARE(font.pointSize(), 10);
    QCOMPARE(QFontInfo(font).family(), QStringLiteral("Lato"));
    QFont bold(font);
    bold.setBold(true);
    QCOMPARE(QFontInfo(bold).family(), QStringLiteral("Lato"));
    QCOMPARE(QFontInfo(bold).styleName(), QStringLiteral("Bold"));
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
