#include <QtTest>

#include "controllers/cataloguereader.h"

using KOV::Controllers::CatalogueReader;
using KOV::Models::Package;

class TestCatalogueReader final : public QObject
{
    Q_OBJECT
private slots:
    void malformedDocuments_data();
    void malformedDocuments();
    void changeLogRange_data();
    void changeLogRange();
};

void TestCatalogueReader::malformedDocuments_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("ids"); // the packages read, in order, with their version counts

    const QByteArray good = R"({"id":1,"versions":[{"version":"1.0"}]})";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("cut in the middle") << QByteArray("[" + good + ",{\"id\":2,\"vers") << "";
    QTest::newRow("object at the top") << good << "";
    QTest::newRow("string at the top") << QByteArray("\"[]\"") << "";
    QTest::newRow("nested far too deep") << QByteArray(QByteArray(5000, '[') + QByteArray(5000, ']')) << "";
    QTest::newRow("elements that are not objects") << QByteArray("[1,\"x\",null,[]," + good + "]") << "1:1";
    QTest::newRow("versions not an array") << QByteArray(R"([{"id":3,"versions":{"version":"1.0"}}])") << "";
    QTest::newRow("version entries that are not objects still count")
        << QByteArray(R"([{"id":4,"versions":[7,"x"]}])") << "4:2";
    QTest::newRow("id as a string reads as 0") << QByteArray(R"([{"id":"5","versions":[{}]}])") << "0:1";
    QTest::newRow("fractional id is no id") << QByteArray(R"([{"id":6.9,"versions":[{}]}])") << "0:1";
    QTest::newRow("same id twice keeps both, in order")
        << QByteArray("[" + good + "," + good + "]") << "1:1 1:1";
    QTest::newRow("trailing garbage after the array") << QByteArray("[" + good + "] x") << "";
    QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF[" + good + "]") << "1:1";
}

void TestCatalogueReader::malformedDocuments()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, ids);
    QStringList read;
    for (const auto &package : CatalogueReader::read(document, QStringLiteral("de"))) {
        QCOMPARE(package->state(), Package::AVAILABLE);
        for (const auto &version : package->versions()) {
            // Every version carries both instruction records, so no step meets a null one.
            QVERIFY(version->install);
            QVERIFY(version->uninstall);
        }
        read << QStringLiteral("%1:%2").arg(package->id()).arg(package->versions().size());
    }
    QCOMPARE(read.join(QLatin1Char(' ')), ids);
}

void TestCatalogueReader::changeLogRange_data()
{
    QTest::addColumn<QString>("installed");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("html");

    QTest::newRow("two newer")
        << "1.0"
        << "1.2"
        << "<strong>1.2</strong><ul><li>b</li></ul><strong>1.1</strong><p>Not available></p>";
    QTest::newRow("empty target means the newest") << "1.1"
                                                   << ""
                                                   << "<strong>1.2</strong><ul><li>b</li></ul>";
    QTest::newRow("same version") << "1.2"
                                  << "1.2"
                                  << "";
    QTest::newRow("older target") << "1.2"
                                  << "1.0"
                                  << "";
    QTest::newRow("nothing installed") << ""
                                       << "1.2"
                                       << "";
}

void TestCatalogueReader::changeLogRange()
{
    QFETCH(QString, installed);
    QFETCH(QString, target);
    QFETCH(QString, html);
    const auto packages = CatalogueReader::read(
        R"([{"id":2,"versions":[{"version":"1.0","log":["a"]},{"version":"1.2","log":["b"]},{"version":"1.1"}]}])",
        QStringLiteral("en"));
    QCOMPARE(packages.size(), 1);
    QCOMPARE(CatalogueReader::changeLogHtml(packages.first(), installed, target), QString());
    packages.first()->setState(Package::INSTALLED);
    QCOMPARE(CatalogueReader::changeLogHtml(packages.first(), installed, target), html);
}

QTEST_GUILESS_MAIN(TestCatalogueReader)
#include "tst_cataloguereader.moc"
