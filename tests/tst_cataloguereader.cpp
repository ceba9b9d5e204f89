#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QVersionNumber>
#include <QtTest>

#include <algorithm>

#include "controllers/cataloguereader.h"

using KOV::Controllers::CatalogueReader;
using KOV::Models::Package;

namespace {

// How the program read catalogues through a QJsonDocument: the measure the scanner is held to.

QString jsonString(const QJsonValue &value)
{
    return value.isString() ? value.toString() : QString();
}

QStringList jsonStrings(const QJsonValue &value)
{
    QStringList strings;
    for (const QJsonValue &element : value.toArray())
        strings << jsonString(element);
    return strings;
}

// The text under the interface language, else under "en", else nothing.
QString localized(const QJsonValue &value, const QString &language)
{
    if (!value.isObject())
        return QString();
    const QJsonObject texts = value.toObject();
    const auto text = texts.constFind(language);
    return jsonString(text != texts.constEnd() ? text.value() : texts.value(QLatin1String("en")));
}

QSharedPointer<KOV::Models::PackageVersion> parseVersion(const QJsonObject &object)
{
    auto version = QSharedPointer<KOV::Models::PackageVersion>::create();
    version->version = jsonString(object.value(QStringLiteral("version")));
    version->link = jsonString(object.value(QStringLiteral("link")));
    version->mirrors = jsonStrings(object.value(QStringLiteral("mirrors")));
    version->sha256 = jsonString(object.value(QStringLiteral("sha256"))).toLower();
    const double size = object.value(QStringLiteral("size")).toDouble();
    version->size = size > 0 && size < 9e15 ? qint64(size) : 0;
    version->depends = jsonStrings(object.value(QStringLiteral("depends")));
    version->log = jsonStrings(object.value(QStringLiteral("log")));
    const QJsonObject install = object.value(QStringLiteral("install")).toObject();
    version->install = QSharedPointer<KOV::Models::InstallInstructions>::create();
    version->install->extract = jsonString(install.value(QStringLiteral("extract")));
    version->install->preserve = jsonStrings(install.value(QStringLiteral("preserve")));
    version->install->backup = jsonStrings(install.value(QStringLiteral("backup")));
    version->uninstall = QSharedPointer<KOV::Models::UninstallInstructions>::create();
    version->uninstall->remove
        = jsonStrings(object.value(QStringLiteral("uninstall")).toObject().value(QStringLiteral("remove")));
    return version;
}

QSharedPointer<Package> parsePackage(const QJsonObject &object, const QString &language)
{
    QVector<QSharedPointer<KOV::Models::PackageVersion>> versions;
    for (const QJsonValue &version : object.value(QStringLiteral("versions")).toArray())
        versions << parseVersion(version.toObject());
    if (versions.isEmpty())
        return {};
    std::sort(versions.begin(), versions.end(), [](const auto &a, const auto &b) {
        return QVersionNumber::compare(QVersionNumber::fromString(a->version),
                                       QVersionNumber::fromString(b->version))
               > 0;
    });

    auto package = QSharedPointer<Package>::create();
    package->setName(localized(object.value(QStringLiteral("name")), language));
    const QJsonValue id = object.value(QStringLiteral("id"));
    package->setId(id.isDouble() ? id.toInt() : 0);
    package->setState(Package::AVAILABLE);
    package->setShortDescription(localized(object.value(QStringLiteral("short_description")), language));
    package->setDescription(localized(object.value(QStringLiteral("description")), language));
    package->setType(jsonString(object.value(QStringLiteral("type"))));
    package->setPaid(object.value(QStringLiteral("paid")).toBool(false));
    package->setIcon(jsonString(object.value(QStringLiteral("icon"))));
    package->setManualUrl(jsonString(object.value(QStringLiteral("manual_url"))));
    package->setHelpUrl(jsonString(object.value(QStringLiteral("help_url"))));
    package->setBanners(jsonStrings(object.value(QStringLiteral("banner"))));
    package->setVersions(versions);
    return package;
}

bool referenceRead(const QByteArray &document, const QString &language,
                   QVector<QSharedPointer<Package>> *packages)
{
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(document, &parseError);
    if (parseError.error != QJsonParseError::NoError || !json.isArray())
        return false;
    for (const QJsonValue &entry : json.array()) {
        if (QSharedPointer<Package> package = parsePackage(entry.toObject(), language))
            packages->append(package);
    }
    return true;
}

// Every field read, in order, so that two readings compare unit by unit.
QStringList fields(const QVector<QSharedPointer<Package>> &packages)
{
    QStringList all;
    for (const auto &package : packages) {
        all << QString::number(package->id()) << package->name() << package->shortDescription()
            << package->description() << package->type() << QString::number(package->isPaid())
            << package->icon() << package->manualUrl() << package->helpUrl() << package->banners().join('|')
            << QString::number(int(package->state()));
        for (const auto &version : package->versions()) {
            all << version->version << version->link << version->mirrors.join('|') << version->sha256 << QString::number(version->size)
                << version->depends.join('|') << version->log.join('|') << version->install->extract
                << version->install->preserve.join('|') << version->install->backup.join('|')
                << version->uninstall->remove.join('|');
        }
        all << QStringLiteral("--");
    }
    return all;
}

void compareWithReference(const QByteArray &document)
{
    for (const QString &language : { QStringLiteral("de"), QStringLiteral("en") }) {
        QVector<QSharedPointer<Package>> expected;
        const bool expectedOk = referenceRead(document, language, &expected);
        QVector<QSharedPointer<Package>> read;
        QString error;
        const bool ok = CatalogueReader::read(document, language, &read, &error);
        QVERIFY2(ok == expectedOk,
                 qPrintable(QStringLiteral("%1 (%2) for %3")
                                .arg(ok ? "read" : "refused", error,
                                     QString::fromLatin1(document.left(200).toPercentEncoding()))));
        QVERIFY(ok || !error.isEmpty());
        // QJsonDocument sign-extends a byte above 0x7F after a backslash into two stray surrogates; the
        // scanner takes it as its Latin-1 character. Such documents need only be accepted alike.
        static const QRegularExpression highEscape(QStringLiteral("\\\\[\\x{80}-\\x{ff}]"));
        if (!highEscape.match(QString::fromLatin1(document)).hasMatch())
            QCOMPARE(fields(read), fields(expected));
    }
}

// A catalogue with escapes, text beyond ASCII, repeated keys and values of unexpected types.
QByteArray richCatalogue()
{
    return QByteArray(
        "[\n"
        "  {\"id\": 1, \"type\": \"PLUGIN\", \"paid\": true, \"icon\": \"http://h/i.png\", \"manual_url\": "
        "\"m\", \"help_url\": \"h\",\n"
        "   \"name\": {\"en\": \"Lib \\\"one\\\"\", \"de\": \"Bibliothek \\u00fc\\ud83d\\ude00 \\/ \\x\"},\n"
        "   \"short_description\": {\"en\": \"Short\"}, \"description\": {\"de\": 5, \"en\": \"<b>x</b>\"},\n"
        "   \"banner\": [\"a.png\", 3, \"b.png\"],\n"
        "   \"versions\": [\n"
        "     {\"version\": \"1.10\", \"link\": \"http://h/a.7z\", \"sha256\": \"ABCDEF\", \"size\": "
        "1234.0,\n"
        "      \"depends\": [\"2:1.0\", null], \"log\": [\"fixed\\ttabs\", \"Grüße\"],\n"
        "      \"install\": {\"extract\": \"Resources/plugins/One\", \"preserve\": [\"a.ini\"], \"backup\": "
        "[\"b/c\"]},\n"
        "      \"uninstall\": {\"remove\": [\"Resources/plugins/One\"]}},\n"
        "     {\"version\": \"1.9\", \"size\": -5, \"install\": 7, \"uninstall\": {\"remove\": \"x\"}},\n"
        "     \"not an object\", {\"version\": \"2.0\", \"version\": \"1.2\", \"size\": 1e3}]},\n"
        "  {\"id\": 2.0, \"name\": {\"de\": \"Zwei\", \"de\": \"Zwo\"}, \"versions\": [{\"version\": "
        "\"3\"}], \"versions\": [{\"version\": \"4\"}]},\n"
        "  {\"id\": 2147483648, \"versions\": [{}]},\n"
        "  {\"id\": -7, \"paid\": \"yes\", \"n\\u0061me\": {\"en\": \"escaped key\"}, \"versions\": "
        "[{\"version\": \"1.0.0\"}]},\n"
        "  {\"id\": 9, \"versions\": []},\n"
        "  {\"id\": 10, \"versions\": [{\"version\": \"1\"}], \"versions\": \"none\"},\n"
        "  {\"id\": 11, \"name\": {\"en\": \"no language\"}, \"versions\": [{\"version\": \"0.1\"}, "
        "{\"version\": \"0.1.0\"}]}\n"
        "]\n");
}

} // namespace

class TestCatalogueReader final : public QObject
{
    Q_OBJECT
private slots:
    void malformedDocuments_data();
    void malformedDocuments();
    void changeLogRange_data();
    void changeLogRange();
    void readsWhatQJsonDocumentReads_data();
    void readsWhatQJsonDocumentReads();
    void mutatedCataloguesReadAlike();
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

void TestCatalogueReader::readsWhatQJsonDocumentReads_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::newRow("rich") << richCatalogue();
    // Where JSON parsers differ, the scanner does as QJsonDocument does.
    const char *quirks[] = {
        "[01]",
        "[1.]",
        "[.5]",
        "[-]",
        "[1e400]",
        "[1e-400]",
        "[1E5]",
        "[-0]",
        "[+1]",
        "[TRUE]",
        "[true]",
        "[tru]",
        "[nul]",
        "[null ]",
        "[9223372036854775808]",
        "[1e5.5]",
        "[\"\\ud800\"]",
        "[\"\\ud800\\udc00\"]",
        "[\"a\tb\"]",
        "[\"a\x01b\"]",
        "[\"\xed\xa0\x80\"]",
        "[\"\xc0\xaf\"]",
        "[\"\xf4\x90\x80\x80\"]",
        "[\"\xff\"]",
        "[\"\xe2\x82\"]",
        "[\"\xf0\x9f\x98\x80\"]",
        "[\"\xef\xbf\xbf\"]",
        "[\"\\x\"]",
        "[\"\\\xc3\"]",
        "[\"\\\xc3\xa9\"]",
        "[\"\\u12\"]",
        "[\"\\u12g4\"]",
        "[\"\\",
        "[1,]",
        "[,1]",
        "{}",
        "[] ",
        " []",
        "\xEF\xBB\xBF[]",
        "\xEF\xBB\xBF",
        "[\x0b]",
        "[\f]",
        "[{\"a\":1,}]",
        "[{,}]",
        "[{\"a\"}]",
        "[{1:2}]",
        "[1 2]",
        "[\"abc",
        "[",
        "]",
        "",
        "[{\"id\":1,\"versions\":[{}]}]x",
        "[{\"id\":1,\"versions\":[{}]}]\r\n\t ",
        "[{}",
        "[{\"a\":}]",
        "[{\"a\" : 1 , \"b\" :[ ] }]",
        "[{\"id\":1e2,\"versions\":[{\"size\":\"9\"}]}]",
        "[{\"id\":-0.0,\"versions\":[{\"size\":9e15}]}]",
        "[{\"id\":1,\"versions\":[{\"size\":true}]}]",
    };
    for (const char *quirk : quirks)
        QTest::newRow(qPrintable(QString::fromLatin1(QByteArray(quirk).toPercentEncoding())))
            << QByteArray(quirk);
    QTest::newRow("nul inside a string") << QByteArray("[\"a\0b\"]", 7);
    for (int depth : { 1023, 1024, 1025 }) {
        QTest::newRow(qPrintable(QStringLiteral("arrays %1 deep").arg(depth)))
            << QByteArray(QByteArray(depth, '[') + QByteArray(depth, ']'));
        QTest::newRow(qPrintable(QStringLiteral("objects %1 deep").arg(depth))) << QByteArray(
            "[" + QByteArray("{\"a\":").repeated(depth - 1) + "1" + QByteArray(depth - 1, '}') + "]");
    }
    const QDir corpus(QStringLiteral(KOV_SOURCE_DIR "/tests/fuzz/corpus"));
    for (const QString &name : corpus.entryList(QDir::Files, QDir::Name)) {
        QFile file(corpus.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QTest::newRow(qPrintable("corpus/" + name)) << file.readAll();
    }
}

void TestCatalogueReader::readsWhatQJsonDocumentReads()
{
    QFETCH(QByteArray, document);
    compareWithReference(document);
}

void TestCatalogueReader::mutatedCataloguesReadAlike()
{
    // Thousands of small damages to a good catalogue, the same ones at every run.
    const QByteArray good = richCatalogue();
    const QByteArray significant = "[]{}\":,\\ -.0123456789eEtfnu\x80\xc3\xff";
    QRandomGenerator random(20261210);
    for (int round = 0; round < 3000; ++round) {
        QByteArray document = good;
        const int changes = 1 + random.bounded(3);
        for (int change = 0; change < changes; ++change) {
            const int at = random.bounded(document.size());
            switch (random.bounded(4)) {
            case 0:
                document[at] = significant.at(random.bounded(significant.size()));
                break;
            case 1:
                document.remove(at, 1 + random.bounded(8));
                break;
            case 2:
                document.insert(at, significant.at(random.bounded(significant.size())));
                break;
            default:
                document.insert(at, document.mid(random.bounded(document.size()), 1 + random.bounded(12)));
                break;
            }
        }
        compareWithReference(document);
        if (QTest::currentTestFailed())
            return;
    }
}

QTEST_GUILESS_MAIN(TestCatalogueReader)
#include "tst_cataloguereader.moc"
