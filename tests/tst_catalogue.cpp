#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QtTest>

#include "app/settings.h"
#include "controllers/packagecontroller.h"
#include "httpserver.h"
#include "managers/downloadmanager.h"
#include "testsupport.h"

using KOV::Controllers::PackageController;
using KOV::Models::Package;

namespace {

QJsonObject version(const QString &number, const QStringList &log = {}, const QString &extract = "plugins/P")
{
    return QJsonObject { { "version", number },
                         { "link", "http://127.0.0.1:1/p-" + number + ".7z" },
                         { "log", QJsonArray::fromStringList(log) },
                         { "install", QJsonObject { { "extract", extract } } } };
}

QByteArray catalogue(const QJsonArray &packages)
{
    return QJsonDocument(packages).toJson();
}

} // namespace

class TestCatalogue final : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void readsEveryKey();
    void keyRules();
    void emptyCatalogue_data();
    void emptyCatalogue();
    void installedState_data();
    void installedState();
    void changeLog_data();
    void changeLog();
    void dependencyEntries_data();
    void dependencyEntries();
    void serverCatalogue();
    void failedDownloadKeepsError();
    void localRepository();
    void replacedListIsLetGo();

private:
    void makeController(const QString &language = QStringLiteral("en"), const QString &localRepo = "false");
    QString writeCatalogue(const QByteArray &content);

    QScopedPointer<KOVTest::TemporaryHome> m_home;
    QSharedPointer<KOV::Settings> m_settings;
    QSharedPointer<PackageController> m_controller;
};

void TestCatalogue::init()
{
    m_home.reset(new KOVTest::TemporaryHome);
    QCoreApplication::setOrganizationName(QStringLiteral("Tarrowmere"));
    QCoreApplication::setApplicationName(QStringLiteral("KOV Vazuv"));
}

void TestCatalogue::cleanup()
{
    m_controller.reset();
    m_settings.reset();
    m_home.reset();
}

void TestCatalogue::makeController(const QString &language, const QString &localRepo)
{
    m_controller.reset();
    m_settings = QSharedPointer<KOV::Settings>::create();
    auto &edited = m_settings->edited();
    edited.installation.value = m_home->path() + QStringLiteral("/X-Plane/");
    edited.language.value = language;
    edited.cache.value = m_home->path() + QStringLiteral("/cache/");
    edited.preserve.value = m_home->path() + QStringLiteral("/preserve/");
    edited.backup.value = m_home->path() + QStringLiteral("/backup/");
    edited.localRepo.value = localRepo;
    m_settings->commit();
    auto downloads = QSharedPointer<KOV::Managers::DownloadManager>::create(
        m_settings, QSharedPointer<QNetworkAccessManager>::create());
    m_controller = QSharedPointer<PackageController>::create(m_settings, downloads);
    m_controller->openDatabase();
}

QString TestCatalogue::writeCatalogue(const QByteArray &content)
{
    const QString path = m_home->path() + QStringLiteral("/packages.json");
    KOVTest::writeFile(path, content);
    return path;
}

void TestCatalogue::readsEveryKey()
{
    makeController(QStringLiteral("de"));
    QJsonObject full {
        { "id", 42 },
        { "name", QJsonObject { { "en", "Jetways" }, { "de", "Fluggastbrücken" } } },
        { "description", QJsonObject { { "en", "<b>Long</b>" } } },
        { "short_description", QJsonObject { { "de", "Kurz" } } },
        { "icon", "http://host/icon.png" },
        { "type", "PLUGIN" },
        { "manual_url", "http://host/manual" },
        { "help_url", "http://host/help" },
        { "banner", QJsonArray { "http://host/1.png", 5, "http://host/2.png" } },
        { "versions",
          QJsonArray { QJsonObject {
              { "version", "1.0" },
              { "link", "http://host/a.7z" },
              { "depends", QJsonArray { "1:2.0", "3" } },
              { "log", QJsonArray { "first", "second" } },
              { "install", QJsonObject { { "extract", "Resources/plugins/J" },
                                         { "preserve", QJsonArray { "a.ini" } },
                                         { "backup", QJsonArray { "b.txt", true } } } },
              { "uninstall", QJsonObject { { "remove", QJsonArray { "Resources/plugins/J" } } } } } } },
    };
    QSignalSpy update(m_controller.data(), &PackageController::update);
    QSignalSpy list(m_controller.data(), &PackageController::list);
    m_controller->parseCatalogue(writeCatalogue(catalogue({ full })));
    QCOMPARE(update.count(), 1);
    QCOMPARE(list.count(), 1);

    const auto packages = m_controller->packages();
    QCOMPARE(packages.size(), 1);
    const auto &p = packages.first();
    QCOMPARE(p->id(), 42);
    QCOMPARE(p->name(), QStringLiteral("Fluggastbrücken"));
    QCOMPARE(p->description(), QStringLiteral("<b>Long</b>")); // only English given
    QCOMPARE(p->shortDescription(), QStringLiteral("Kurz"));
    QCOMPARE(p->icon(), QStringLiteral("http://host/icon.png"));
    QCOMPARE(p->type(), QStringLiteral("PLUGIN"));
    QCOMPARE(p->manualUrl(), QStringLiteral("http://host/manual"));
    QCOMPARE(p->helpUrl(), QStringLiteral("http://host/help"));
    QCOMPARE(p->banners(), QStringList({ "http://host/1.png", "", "http://host/2.png" }));
    QCOMPARE(p->state(), Package::AVAILABLE);
    QVERIFY(!p->hasUpdate());
    const auto v = p->versions().first();
    QCOMPARE(v->link, QStringLiteral("http://host/a.7z"));
    QCOMPARE(v->depends, QStringList({ "1:2.0", "3" }));
    QCOMPARE(v->log, QStringList({ "first", "second" }));
    QCOMPARE(v->install->extract, QStringLiteral("Resources/plugins/J"));
    QCOMPARE(v->install->preserve, QStringList({ "a.ini" }));
    QCOMPARE(v->install->backup, QStringList({ "b.txt", "" }));
    QCOMPARE(v->uninstall->remove, QStringList({ "Resources/plugins/J" }));
}

void TestCatalogue::keyRules()
{
    makeController(QStringLiteral("de"));
    const QJsonArray packages {
        QJsonObject {
            { "id", "7" }, { "name", "plain string" }, { "versions", QJsonArray { version("1") } } },
        QJsonObject { { "id", 2 }, { "name", QJsonObject { { "en", "No versions" } } } },
        QJsonObject { { "id", 3 }, { "versions", QJsonArray() } },
        QJsonObject { { "id", 4 },
                      { "name", QJsonObject { { "en", 5 } } },
                      { "versions", QJsonArray { version("1.2.1"), version("1.10"), version("1.9") } } },
        QJsonObject { { "id", 5 }, { "versions", QJsonArray { QJsonObject { { "version", "0.1" } } } } },
    };
    m_controller->parseCatalogue(writeCatalogue(catalogue(packages)));
    const auto parsed = m_controller->packages();
    QCOMPARE(parsed.size(), 3);
    QCOMPARE(parsed.at(0)->id(), 0);
    QCOMPARE(parsed.at(0)->name(), QString());
    QCOMPARE(parsed.at(1)->id(), 4);
    QCOMPARE(parsed.at(1)->name(), QString());
    QStringList order;
    for (const auto &v : parsed.at(1)->versions())
        order << v->version;
    QCOMPARE(order, QStringList({ "1.10", "1.9", "1.2.1" }));
    // Every version has both instruction records, empty when the catalogue gives none.
    const auto bare = parsed.at(2)->versions().first();
    QVERIFY(bare->install && bare->uninstall);
    QVERIFY(bare->install->extract.isEmpty() && bare->uninstall->remove.isEmpty());
}

void TestCatalogue::emptyCatalogue_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::newRow("not JSON") << QByteArray("<html>error</html>") << true;
    QTest::newRow("object at the top") << QByteArray(R"({"versions": []})") << true;
    QTest::newRow("empty file") << QByteArray() << true;
    QTest::newRow("no file") << QByteArray() << false;
    QTest::newRow("nested too deep") << QByteArray(2000, '[') + QByteArray(2000, ']') << true;
}

void TestCatalogue::emptyCatalogue()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    makeController();
    const QString path = exists ? writeCatalogue(content) : m_home->path() + QStringLiteral("/missing.json");
    // What is shown before stays; the list's place shows the error.
    m_controller->parseCatalogue(writeCatalogue(
        R"([{"id": 1, "name": {"en": "One"}, "versions": [{"version": "1.0", "link": "http://127.0.0.1:9/a.7z"}]}])"));
    QCOMPARE(m_controller->packages().size(), 1);
    QSignalSpy update(m_controller.data(), &PackageController::update);
    QSignalSpy list(m_controller.data(), &PackageController::list);
    QSignalSpy error(m_controller.data(), &PackageController::error);
    m_controller->parseCatalogue(exists ? writeCatalogue(content) : path);
    QCOMPARE(m_controller->packages().size(), 1);
    QCOMPARE(update.count(), 0);
    QCOMPARE(list.count(), 0);
    QCOMPARE(error.count(), 1);
    QCOMPARE(error.first().first().toString(), QStringLiteral("The catalogue could not be read"));
}

void TestCatalogue::installedState_data()
{
    QTest::addColumn<int>("status"); // -1: no row
    QTest::addColumn<QString>("recorded");
    QTest::addColumn<QByteArray>("versionFile");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("hasUpdate");
    QTest::newRow("not installed") << -1 << "" << QByteArray() << int(Package::AVAILABLE) << false;
    QTest::newRow("latest installed") << 1 << "1.2.3" << QByteArray() << int(Package::INSTALLED) << false;
    QTest::newRow("older installed") << 1 << "1.0.5" << QByteArray() << int(Package::INSTALLED) << true;
    QTest::newRow("no numeric segment") << 1 << "abc" << QByteArray() << int(Package::INSTALLED) << true;
    QTest::newRow("install error loads available")
        << 6 << "1.2.3" << QByteArray() << int(Package::AVAILABLE) << false;
    QTest::newRow("interrupted download") << 3 << "1.2.3" << QByteArray() << int(Package::AVAILABLE) << false;
    QTest::newRow("version file") << -1 << "" << QByteArray("P\n\n1.0.5\n") << int(Package::INSTALLED)
                                  << true;
}

void TestCatalogue::installedState()
{
    QFETCH(int, status);
    QFETCH(QString, recorded);
    QFETCH(QByteArray, versionFile);
    QFETCH(int, state);
    QFETCH(bool, hasUpdate);
    makeController();
    if (status >= 0) {
        auto record = QSharedPointer<Package>(new Package);
        record->setId(9);
        record->setState(Package::State(status));
        m_controller->saveState(record, recorded);
    }
    if (!versionFile.isEmpty())
        KOVTest::writeFile(m_home->path() + QStringLiteral("/X-Plane/plugins/P/KOV_version.txt"),
                           versionFile);

    m_controller->parseCatalogue(writeCatalogue(catalogue(
        { QJsonObject { { "id", 9 }, { "versions", QJsonArray { version("1.0.5"), version("1.2.3") } } } })));
    const auto package = m_controller->packages().first();
    QCOMPARE(int(package->state()), state);
    QCOMPARE(package->hasUpdate(), hasUpdate);
}

void TestCatalogue::changeLog_data()
{
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("html");
    const QString both = "<strong>1.2</strong><ul><li>faster</li><li>safer</li></ul>"
                         "<strong>1.1</strong><p>Not available></p>";
    QTest::newRow("to the newest") << true << "1.2" << both;
    QTest::newRow("empty target means newest") << true << "" << both;
    QTest::newRow("one step") << true << "1.1"
                              << "<strong>1.1</strong><p>Not available></p>";
    QTest::newRow("the installed one") << true << "1.0"
                                       << "";
    QTest::newRow("not installed") << false << "1.2"
                                   << "";
}

void TestCatalogue::changeLog()
{
    QFETCH(bool, installed);
    QFETCH(QString, target);
    QFETCH(QString, html);
    makeController();
    if (installed)
        KOVTest::writeFile(m_home->path() + QStringLiteral("/X-Plane/plugins/P/KOV_version.txt"),
                           "P\n\n1.0\n");
    m_controller->parseCatalogue(writeCatalogue(catalogue({ QJsonObject {
        { "id", 9 },
        { "versions", QJsonArray { version("1.0", { "first" }), version("1.2", { "faster", "safer" }),
                                   version("1.1") } } } })));
    const auto package = m_controller->packages().first();
    QCOMPARE(m_controller->changeLogHtml(package, target), html);
}

void TestCatalogue::dependencyEntries_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("minimum");
    QTest::newRow("id only") << "4" << true << 4 << "";
    QTest::newRow("id and minimum") << "4:2.0" << true << 4 << "2.0";
    QTest::newRow("empty minimum") << "4:" << true << 4 << "";
    QTest::newRow("further parts ignored") << "4:2.0:x" << true << 4 << "2.0";
    QTest::newRow("not a number") << "abc:1" << true << 0 << "1";
    QTest::newRow("empty entry") << "" << false << 0 << "";
}

void TestCatalogue::dependencyEntries()
{
    QFETCH(QString, entry);
    QFETCH(bool, valid);
    QFETCH(int, id);
    QFETCH(QString, minimum);
    if (!valid)
        QTest::ignoreMessage(QtWarningMsg, "Invalid dependency info");
    const KOV::Controllers::Dependency dependency = PackageController::parseDependency(entry);
    QCOMPARE(dependency.valid, valid);
    QCOMPARE(dependency.id, id);
    QCOMPARE(dependency.minimum, minimum);
}

void TestCatalogue::serverCatalogue()
{
    QCOMPARE(PackageController::catalogueUrl(), QStringLiteral("http://127.0.0.1:8787/packages.json"));
    makeController();
    KOVTest::HttpServer server;
    QVERIFY(server.listen());
    server.addFile(QStringLiteral("/packages.json"),
                   catalogue({ QJsonObject { { "id", 1 }, { "versions", QJsonArray { version("1") } } } }));
    m_controller->setCatalogueUrl(server.url(QStringLiteral("/packages.json")));
    QSignalSpy busy(m_controller.data(), &PackageController::busy);
    QSignalSpy list(m_controller.data(), &PackageController::list);
    m_controller->loadCatalogue();
    QCOMPARE(busy.count(), 1);
    QVERIFY(list.wait(10000));
    QCOMPARE(m_controller->packages().size(), 1);
    // Read, and not kept: each load fetches into a file of its own.
    QVERIFY(QDir(m_home->path() + "/cache").entryList(QDir::Files).isEmpty());
    QVERIFY(QFileInfo(m_home->path() + QStringLiteral("/preserve")).isDir());
    QVERIFY(QFileInfo(m_home->path() + QStringLiteral("/backup")).isDir());
}

void TestCatalogue::failedDownloadKeepsError()
{
    makeController();
    KOVTest::HttpServer server;
    QVERIFY(server.listen());
    KOVTest::HttpServer::Behaviour broken;
    broken.errorStatus = 500;
    server.setBehaviour(QStringLiteral("/packages.json"), broken);
    // A catalogue of an earlier run is still in the cache, under the name of an earlier load.
    KOVTest::writeFile(m_home->path() + "/cache/load-1-" + KOV::Models::Download::fileNameForUrl(QUrl(server.url("/packages.json"))),
        catalogue({ QJsonObject { { "id", 1 }, { "versions", QJsonArray { version("1") } } } }));
    m_controller->setCatalogueUrl(server.url(QStringLiteral("/packages.json")));
    QSignalSpy error(m_controller.data(), &PackageController::error);
    QSignalSpy update(m_controller.data(), &PackageController::update);
    QSignalSpy list(m_controller.data(), &PackageController::list);
    m_controller->loadCatalogue();
    QVERIFY(error.wait(10000));
    QCOMPARE(error.first().first().toString(), QStringLiteral("Server Error"));
    QTest::qWait(300);
    QCOMPARE(update.count(), 0);
    QCOMPARE(list.count(), 0);
    QVERIFY(m_controller->packages().isEmpty());
}

void TestCatalogue::localRepository()
{
    makeController(QStringLiteral("en"), QStringLiteral("TRUE"));
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/packages.json");
    QVERIFY(KOVTest::writeFile(
        path, catalogue({ QJsonObject { { "id", 3 }, { "versions", QJsonArray { version("2") } } } })));
    QSignalSpy list(m_controller.data(), &PackageController::list);
    QElapsedTimer timer;
    timer.start();
    m_controller->loadCatalogue();
    QVERIFY(m_controller->packages().isEmpty());
    QVERIFY(list.wait(5000));
    QVERIFY2(timer.elapsed() >= 900, qPrintable(QString::number(timer.elapsed())));
    QFile::remove(path);
    QCOMPARE(m_controller->packages().size(), 1);
    QCOMPARE(m_controller->packages().first()->id(), 3);
    // Read on a worker thread, handed over: signals to the tiles stay direct.
    QCOMPARE(m_controller->packages().first()->thread(), QThread::currentThread());
}

void TestCatalogue::replacedListIsLetGo()
{
    // Read in the background, then replaced: nothing but the list may keep the packages.
    makeController();
    KOVTest::HttpServer server;
    QVERIFY(server.listen());
    QJsonArray packages;
    for (int id = 1; id <= 600; ++id)
        packages.append(QJsonObject { { "id", id }, { "versions", QJsonArray { version("1") } } });
    server.addFile(QStringLiteral("/packages.json"), QJsonDocument(packages).toJson());
    m_controller->setCatalogueUrl(server.url(QStringLiteral("/packages.json")));
    QSignalSpy list(m_controller.data(), &PackageController::list);
    m_controller->loadCatalogue();
    QVERIFY(list.wait(10000));
    QCOMPARE(m_controller->packages().size(), 600);
    const QWeakPointer<Package> first = m_controller->packages().first();
    const QWeakPointer<Package> last = m_controller->packages().last();
    m_controller->parseCatalogue(writeCatalogue(
        catalogue({ QJsonObject { { "id", 7 }, { "versions", QJsonArray { version("1") } } } })));
    QCOMPARE(m_controller->packages().size(), 1);
    // Let go of over a few turns of the event loop, not at once.
    QVERIFY(!first.isNull());
    QTRY_VERIFY(first.isNull());
    QTRY_VERIFY(last.isNull());
}

QTEST_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
