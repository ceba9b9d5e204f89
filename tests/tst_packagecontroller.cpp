#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include "app/settings.h"
#include "controllers/manifestverifier.h"
#include "controllers/packagecontroller.h"
#include "httpserver.h"
#include "managers/downloadmanager.h"
#include "models/download.h"
#include "testsupport.h"

using KOV::Controllers::PackageController;
using KOV::Models::Package;
using KOVTest::HttpServer;

namespace {

struct VersionPlan
{
    QString version;
    QString archive; // served file name
    QString extract;
    QStringList depends;
    QStringList preserve;
    QStringList backup;
    QStringList remove;
};

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

} // namespace

class TestPackageController final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Package::registerMetaTypes(); }
    void init();
    void cleanup();
    void dependenciesInstalledFirst();
    void updateOlderVersionAndUninstall();
    void uninstallingLibraryTakesDependents();
    void failedDependencyDropsTheChain();
    void cutTransferResumes();
    void installUninstallInstallAgain();
    void cycleEnds();
    void emptyDependencyEntry();
    void dependencyQueries_data();
    void dependencyQueries();
    void reloadDuringDownloadInstallsOnce();
    void checksumMismatchTouchesNothing();
    void manifestRecordsInstalledFiles();
    void filesOfAnotherPackageNeedConsent();
    void verifyFindsChanges_data();
    void verifyFindsChanges();
    void backupsOfBusyPackagesAreShared_data();
    void backupsOfBusyPackagesAreShared();

private:
    void addPackage(int id, const QString &type, const QVector<VersionPlan> &versions);
    void serveArchive(const QString &name, const QMap<QString, QByteArray> &files, bool stored = false);
    void loadCatalogue();
    QSharedPointer<Package> package(int id) const;
    bool waitFor(int id, Package::State state, int ms = 30000) const;
    QPair<QString, int> row(int id) const;
    QString xp(const QString &relative = QString()) const { return m_home->path() + "/X-Plane/" + relative; }
    QStringList gets() const { return m_server->requestLines().filter(QRegularExpression("^GET ")); }

    QScopedPointer<KOVTest::TemporaryHome> m_home;
    QScopedPointer<HttpServer> m_server;
    QSharedPointer<KOV::Settings> m_settings;
    QSharedPointer<PackageController> m_controller;
    QJsonArray m_catalogue;
    QStringList m_installedOrder;
    QStringList m_preparingOrder;
};

void TestPackageController::init()
{
    m_home.reset(new KOVTest::TemporaryHome);
    QCoreApplication::setOrganizationName(QStringLiteral("Tarrowmere"));
    QCoreApplication::setApplicationName(QStringLiteral("KOV Vazuv"));
    m_server.reset(new HttpServer);
    QVERIFY(m_server->listen());
    m_server->setRoot(m_home->path() + "/served");
    QDir().mkpath(m_home->path() + "/served");
    QVERIFY(KOVTest::writeFile(xp("X-Plane-x86_64"), "#!"));

    m_settings = QSharedPointer<KOV::Settings>::create();
    auto &edited = m_settings->edited();
    edited.installation.value = xp();
    edited.language.value = "en";
    edited.cache.value = m_home->path() + "/cache/";
    edited.preserve.value = m_home->path() + "/preserve/";
    edited.backup.value = m_home->path() + "/backup/";
    edited.localRepo.value = "false";
    m_settings->commit();
    auto downloads = QSharedPointer<KOV::Managers::DownloadManager>::create(
        m_settings, QSharedPointer<QNetworkAccessManager>::create());
    m_controller = QSharedPointer<PackageController>::create(m_settings, downloads);
    m_controller->openDatabase();
    m_catalogue = QJsonArray();
    m_installedOrder.clear();
    m_preparingOrder.clear();
}

void TestPackageController::cleanup()
{
    m_controller.reset();
    m_settings.reset();
    m_server.reset();
    m_home.reset();
}

void TestPackageController::addPackage(int id, const QString &type, const QVector<VersionPlan> &versions)
{
    QJsonArray list;
    for (const VersionPlan &plan : versions) {
        list.append(QJsonObject {
            { "version", plan.version },
            { "link", m_server->url("/" + plan.archive) },
            { "depends", QJsonArray::fromStringList(plan.depends) },
            { "install", QJsonObject { { "extract", plan.extract },
                                       { "preserve", QJsonArray::fromStringList(plan.preserve) },
                                       { "backup", QJsonArray::fromStringList(plan.backup) } } },
            { "uninstall", QJsonObject { { "remove", QJsonArray::fromStringList(plan.remove) } } } });
    }
    m_catalogue.append(
        QJsonObject { { "id", id },
                      { "name", QJsonObject { { "en", QStringLiteral("Package %1").arg(id) } } },
                      { "type", type },
                      { "versions", list } });
}

void TestPackageController::serveArchive(const QString &name, const QMap<QString, QByteArray> &files,
                                         bool stored)
{
    const QString source = m_home->path() + "/src-" + name;
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        QVERIFY(KOVTest::writeFile(source + "/" + it.key(), it.value()));
    QVERIFY(KOVTest::make7z(m_home->path() + "/served/" + name, source,
                            stored ? QStringList { "-mx=0" } : QStringList()));
}

void TestPackageController::loadCatalogue()
{
    const QString path = m_home->path() + "/packages.json";
    KOVTest::writeFile(path, QJsonDocument(m_catalogue).toJson());
    m_controller->parseCatalogue(path);
    for (const auto &p : m_controller->packages()) {
        connect(p.data(), &Package::stateChanged, this, [this, id = p->id()](Package::State state) {
            if (state == Package::INSTALLED)
                m_installedOrder << QString::number(id);
            if (state == Package::PREPARING)
                m_preparingOrder << QString::number(id);
        });
    }
}

QSharedPointer<Package> TestPackageController::package(int id) const
{
    for (const auto &p : m_controller->packages()) {
        if (p->id() == id)
            return p;
    }
    return {};
}

bool TestPackageController::waitFor(int id, Package::State state, int ms) const
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        if (package(id)->state() == state && !m_controller->isInstalling())
            return true;
        QTest::qWait(10);
    }
    qWarning() << "package" << id << "is" << package(id)->state() << "not" << state;
    return false;
}

QPair<QString, int> TestPackageController::row(int id) const
{
    QPair<QString, int> result { QString(), -1 };
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "inspect");
        db.setDatabaseName(m_home->dataPath() + "/packages.db");
        if (db.open()) {
            QSqlQuery query(
                QStringLiteral("SELECT version, status FROM packages WHERE package_id = %1").arg(id), db);
            if (query.next())
                result = { query.value(0).toString(), query.value(1).toInt() };
        }
    }
    QSqlDatabase::removeDatabase("inspect");
    return result;
}

void TestPackageController::dependenciesInstalledFirst()
{
    addPackage(10, "PLUGIN",
               { { "1.0.0", "a.7z", "Resources/plugins/A", {}, {}, {}, { "Resources/plugins/A" } } });
    addPackage(11, "PLUGIN",
               { { "1.0.0", "b1.7z", "Resources/plugins/B", {}, {}, {}, { "Resources/plugins/B" } },
                 { "2.0.0", "b2.7z", "Resources/plugins/B", {}, {}, {}, { "Resources/plugins/B" } } });
    addPackage(20, "PLUGIN",
               { { "1.0.0", "p.7z", "Resources/plugins/P", { "10", "11:2.0.0" }, {}, {}, {} } });
    serveArchive("a.7z", { { "a.xpl", "A" } });
    serveArchive("b1.7z", { { "b.xpl", "B 1" } });
    serveArchive("b2.7z", { { "b.xpl", "B 2" } });
    serveArchive("p.7z", { { "p.xpl", "P" } });
    loadCatalogue();

    QString version = "1.0.0";
    m_controller->installPackage(package(11), version);
    QVERIFY(waitFor(11, Package::INSTALLED));
    m_server->clearRequests();
    m_installedOrder.clear();
    m_preparingOrder.clear();

    version.clear();
    m_controller->installPackage(package(20), version);
    QCOMPARE(version, QStringLiteral("1.0.0"));
    QVERIFY(waitFor(20, Package::INSTALLED));
    QVERIFY(waitFor(10, Package::INSTALLED));
    QVERIFY(waitFor(11, Package::INSTALLED));

    // Downloads start for A, then B's newest version, then the package itself.
    QCOMPARE(m_preparingOrder, QStringList({ "10", "11", "20" }));
    QStringList fetched = gets();
    fetched.sort();
    QCOMPARE(fetched, QStringList({ "GET /a.7z", "GET /b2.7z", "GET /p.7z" }));
    QCOMPARE(m_installedOrder.last(), QStringLiteral("20"));
    QCOMPARE(KOVTest::readFile(xp("Resources/plugins/B/b.xpl")), QByteArray("B 2"));
    QCOMPARE(KOVTest::readFile(xp("Resources/plugins/P/p.xpl")), QByteArray("P"));
    QCOMPARE(row(10), qMakePair(QStringLiteral("1.0.0"), 1));
    QCOMPARE(row(11), qMakePair(QStringLiteral("2.0.0"), 1));
    QCOMPARE(row(20), qMakePair(QStringLiteral("1.0.0"), 1));
    QVERIFY(!QFileInfo::exists(KOVTest::cachedFile(m_home->path() + "/cache", m_server->url("/p.7z"))));
}

void TestPackageController::updateOlderVersionAndUninstall()
{
    const QString settings = "Resources/plugins/U/settings.ini";
    const QString earth = "Resources/default data/earth.dat";
    const QStringList preserve { settings };
    const QStringList backup { earth };
    const QStringList remove { "Resources/plugins/U", earth };
    addPackage(30, "PLUGIN",
               { { "1.0.0", "u1.7z", "", {}, preserve, backup, remove },
                 { "2.0.0", "u2.7z", "", {}, preserve, backup, remove } });
    serveArchive("u1.7z",
                 { { settings, "shipped 1" }, { "Resources/plugins/U/u.xpl", "U 1" }, { earth, "U earth" } });
    serveArchive("u2.7z",
                 { { settings, "shipped 2" }, { "Resources/plugins/U/u.xpl", "U 2" }, { earth, "U earth" } });
    QVERIFY(KOVTest::writeFile(xp(earth), "X-Plane's earth"));
    loadCatalogue();
    const auto u = package(30);

    QString version = "1.0.0";
    m_controller->installPackage(u, version);
    QVERIFY(waitFor(30, Package::INSTALLED));
    QVERIFY(u->hasUpdate());
    QCOMPARE(row(30), qMakePair(QStringLiteral("1.0.0"), 1));
    QVERIFY(KOVTest::writeFile(xp(settings), "user settings"));

    version.clear();
    m_controller->installPackage(u, version);
    QCOMPARE(version, QStringLiteral("2.0.0"));
    QVERIFY(waitFor(30, Package::INSTALLED));
    QVERIFY(!u->hasUpdate());
    QCOMPARE(KOVTest::readFile(xp("Resources/plugins/U/u.xpl")), QByteArray("U 2"));
    QCOMPARE(KOVTest::readFile(xp(settings)), QByteArray("user settings"));
    QCOMPARE(KOVTest::readFile(m_home->path() + "/backup/" + earth), QByteArray("X-Plane's earth"));
    QCOMPARE(row(30), qMakePair(QStringLiteral("2.0.0"), 1));

    version = "1.0.0";
    m_controller->installPackage(u, version);
    QVERIFY(waitFor(30, Package::INSTALLED));
    QCOMPARE(KOVTest::readFile(xp("Resources/plugins/U/u.xpl")), QByteArray("U 1"));
    QCOMPARE(KOVTest::readFile(xp(settings)), QByteArray("user settings"));
    QCOMPARE(row(30), qMakePair(QStringLiteral("1.0.0"), 1));

    m_controller->uninstallPackage(u);
    QTRY_VERIFY(!m_controller->isInstalling());
    QCOMPARE(u->state(), Package::AVAILABLE);
    QVERIFY(!QFileInfo::exists(xp("Resources/plugins/U")));
    QCOMPARE(KOVTest::readFile(xp(earth)), QByteArray("X-Plane's earth"));
    QVERIFY(!QFileInfo::exists(m_home->path() + "/backup/" + earth));
    // Uninstalled: no version is left on record.
    QCOMPARE(row(30), qMakePair(QString(), 0));
}

void TestPackageController::uninstallingLibraryTakesDependents()
{
    addPackage(1, "LIBRARY",
               { { "1.2.0", "lib.7z", "Custom Data", {}, {}, {}, { "Custom Data/lib/KOV_Library" } } });
    addPackage(40, "PLUGIN",
               { { "1.0.0", "q1.7z", "Resources/plugins/Q1", { "1" }, {}, {}, { "Resources/plugins/Q1" } } });
    addPackage(
        41, "PLUGIN",
        { { "1.0.0", "q2.7z", "Resources/plugins/Q2", { "1:1.1.0" }, {}, {}, { "Resources/plugins/Q2" } } });
    addPackage(42, "PLUGIN",
               { { "1.0.0", "q3.7z", "Resources/plugins/Q3", {}, {}, {}, { "Resources/plugins/Q3" } } });
    serveArchive("lib.7z", { { "lib/KOV_Library/KOV_version.txt", "KOV Library\n\n1.2.0\n" } });
    serveArchive("q1.7z", { { "q.xpl", "Q1" } });
    serveArchive("q2.7z", { { "q.xpl", "Q2" } });
    serveArchive("q3.7z", { { "q.xpl", "Q3" } });
    loadCatalogue();

    for (int id : { 40, 41, 42 }) {
        QString version;
        m_controller->installPackage(package(id), version);
        QVERIFY(waitFor(id, Package::INSTALLED));
    }
    QCOMPARE(package(1)->state(), Package::INSTALLED);
    QCOMPARE(gets().first(), QStringLiteral("GET /lib.7z"));
    QCOMPARE(gets().count(QStringLiteral("GET /lib.7z")), 1);

    m_controller->uninstallPackage(package(1));
    QTRY_VERIFY(!m_controller->isInstalling());
    for (int id : { 1, 40, 41 }) {
        QCOMPARE(package(id)->state(), Package::AVAILABLE);
        QCOMPARE(row(id).second, 0);
    }
    QCOMPARE(package(42)->state(), Package::INSTALLED);
    QVERIFY(!QFileInfo::exists(xp("Resources/plugins/Q1")));
    QVERIFY(!QFileInfo::exists(xp("Resources/plugins/Q2")));
    QVERIFY(!QFileInfo::exists(xp("Custom Data/lib/KOV_Library")));
    QVERIFY(QFileInfo::exists(xp("Resources/plugins/Q3/q.xpl")));
}

void TestPackageController::failedDependencyDropsTheChain()
{
    addPackage(10, "PLUGIN", { { "1.0.0", "a.7z", "Resources/plugins/A", {}, {}, {}, {} } });
    addPackage(20, "PLUGIN", { { "1.0.0", "p.7z", "Resources/plugins/P", { "10" }, {}, {}, {} } });
    addPackage(21, "PLUGIN", { { "1.0.0", "x.7z", "Resources/plugins/X", { "20" }, {}, {}, {} } });
    serveArchive("a.7z", { { "big.bin", randomBytes(300 * 1024, 9) } }, true);
    serveArchive("p.7z", { { "p.xpl", "P" } });
    serveArchive("x.7z", { { "x.xpl", "X" } });
    HttpServer::Behaviour cut;
    cut.dropAfter = 100 * 1000;
    m_server->setBehaviour("/a.7z", cut);
    loadCatalogue();

    QString version;
    m_controller->installPackage(package(21), version);
    QVERIFY(waitFor(10, Package::DOWNLOAD_ERROR));
    QVERIFY(waitFor(20, Package::DEPENDENCY_ERROR));
    QVERIFY(waitFor(21, Package::DEPENDENCY_ERROR));
    QTest::qWait(200);
    QCOMPARE(package(10)->state(), Package::DOWNLOAD_ERROR);
    // A first download that failed leaves no version on record.
    QCOMPARE(row(10), qMakePair(QString(), 7));
    QCOMPARE(row(20).second, 8);
    QCOMPARE(row(21).second, 8);
    // The bytes already fetched stay for the next attempt.
    const qint64 partial = QFileInfo(KOVTest::cachedFile(m_home->path() + "/cache", m_server->url("/a.7z"))).size();
    QVERIFY(partial > 0 && partial < QFileInfo(m_home->path() + "/served/a.7z").size());
    QVERIFY(!QFileInfo::exists(xp("Resources/plugins/P")));
    QVERIFY(!QFileInfo::exists(xp("Resources/plugins/A")));
}

void TestPackageController::cutTransferResumes()
{
    const QByteArray content = randomBytes(400 * 1024, 11);
    addPackage(10, "PLUGIN", { { "1.0.0", "a.7z", "Resources/plugins/A", {}, {}, {}, {} } });
    serveArchive("a.7z", { { "big.bin", content } }, true);
    HttpServer::Behaviour cut;
    cut.dropAfter = 150 * 1000;
    m_server->setBehaviour("/a.7z", cut);
    loadCatalogue();

    QString version;
    m_controller->installPackage(package(10), version);
    QVERIFY(waitFor(10, Package::DOWNLOAD_ERROR));
    const qint64 partial = QFileInfo(KOVTest::cachedFile(m_home->path() + "/cache", m_server->url("/a.7z"))).size();
    QVERIFY(partial > 0);

    m_server->clearBehaviours();
    m_server->clearRequests();
    version.clear();
    m_controller->installPackage(package(10), version);
    QVERIFY(waitFor(10, Package::INSTALLED));
    QCOMPARE(gets(), QStringList({ QStringLiteral("GET /a.7z bytes=%1-").arg(partial) }));
    // 7-Zip checks every file's CRC: the content is only right if the archive was.
    QCOMPARE(KOVTest::readFile(xp("Resources/plugins/A/big.bin")), content);
    QCOMPARE(row(10), qMakePair(QStringLiteral("1.0.0"), 1));
}

void TestPackageController::installUninstallInstallAgain()
{
    addPackage(10, "PLUGIN",
               { { "1.0.0", "a.7z", "Resources/plugins/A", {}, {}, {}, { "Resources/plugins/A" } } });
    serveArchive("a.7z", { { "a.xpl", "A" } });
    loadCatalogue();
    const auto a = package(10);
    QString version;
    m_controller->installPackage(a, version);
    QVERIFY(waitFor(10, Package::INSTALLED));
    m_controller->uninstallPackage(a);
    QTRY_VERIFY(!m_controller->isInstalling());
    QVERIFY(!QFileInfo::exists(xp("Resources/plugins/A")));
    QCOMPARE(row(10), qMakePair(QString(), 0));
    version.clear();
    m_controller->installPackage(a, version);
    QVERIFY(waitFor(10, Package::INSTALLED));
    QCOMPARE(KOVTest::readFile(xp("Resources/plugins/A/a.xpl")), QByteArray("A"));
    QCOMPARE(gets().size(), 2);
    QCOMPARE(row(10), qMakePair(QStringLiteral("1.0.0"), 1));

    // Asked for while the uninstallation still runs: it follows once that is done.
    m_controller->uninstallPackage(a);
    QCOMPARE(a->state(), Package::UNINSTALLING);
    version.clear();
    m_controller->installPackage(a, version);
    QVERIFY(waitFor(10, Package::INSTALLED));
    QCOMPARE(KOVTest::readFile(xp("Resources/plugins/A/a.xpl")), QByteArray("A"));
    QCOMPARE(row(10), qMakePair(QStringLiteral("1.0.0"), 1));
}

void TestPackageController::cycleEnds()
{
    addPackage(
        50, "PLUGIN",
        { { "1.0.0", "c1.7z", "Resources/plugins/C1", { "51" }, {}, {}, { "Resources/plugins/C1" } } });
    addPackage(
        51, "PLUGIN",
        { { "1.0.0", "c2.7z", "Resources/plugins/C2", { "52" }, {}, {}, { "Resources/plugins/C2" } } });
    addPackage(
        52, "PLUGIN",
        { { "1.0.0", "c3.7z", "Resources/plugins/C3", { "50" }, {}, {}, { "Resources/plugins/C3" } } });
    serveArchive("c1.7z", { { "c.xpl", "1" } });
    serveArchive("c2.7z", { { "c.xpl", "2" } });
    serveArchive("c3.7z", { { "c.xpl", "3" } });
    loadCatalogue();
    QString version;
    m_controller->installPackage(package(50), version);
    for (int id : { 50, 51, 52 })
        QVERIFY(waitFor(id, Package::INSTALLED));
    m_controller->uninstallPackage(package(51));
    QTRY_VERIFY(!m_controller->isInstalling());
    for (int id : { 50, 51, 52 })
        QCOMPARE(package(id)->state(), Package::AVAILABLE);
    QVERIFY(!QFileInfo::exists(xp("Resources/plugins/C1")));
}

void TestPackageController::emptyDependencyEntry()
{
    addPackage(60, "PLUGIN", { { "1.0.0", "e.7z", "Resources/plugins/E", { "" }, {}, {}, {} } });
    serveArchive("e.7z", { { "e.xpl", "E" } });
    loadCatalogue();
    QString version;
    QVERIFY(m_controller->dependencies(package(60), version).isEmpty());
    m_controller->installPackage(package(60), version);
    QVERIFY(waitFor(60, Package::DEPENDENCY_ERROR));
    QCOMPARE(row(60).second, 8);
    QVERIFY(!QFileInfo::exists(xp("Resources/plugins/E")));
}

void TestPackageController::dependencyQueries_data()
{
    QTest::addColumn<QString>("latestOfFour");
    QTest::addColumn<QStringList>("resolved");
    QTest::newRow("new enough") << "2.0" << QStringList { "4" };
    QTest::newRow("newer") << "2.1.3" << QStringList { "4" };
    QTest::newRow("too old") << "1.9" << QStringList();
}

void TestPackageController::dependencyQueries()
{
    QFETCH(QString, latestOfFour);
    QFETCH(QStringList, resolved);
    addPackage(4, "LIBRARY",
               { { latestOfFour, "4.7z", "Custom Data/Four", {}, {}, {}, {} },
                 { "1.0", "4-old.7z", "x", {}, {}, {}, {} } });
    addPackage(5, "PLUGIN", { { "1.0", "5.7z", "y", { "4:2.0", "9" }, {}, {}, {} } });
    addPackage(6, "PLUGIN", { { "3.0", "6.7z", "z", { "4" }, {}, {}, {} } });
    addPackage(7, "PLUGIN", { { "1.0", "7.7z", "w", { "4:1.5" }, {}, {}, {} } });
    loadCatalogue();

    QString version;
    QStringList ids;
    for (const auto &p : m_controller->dependencies(package(5), version))
        ids << QString::number(p->id());
    QCOMPARE(ids, resolved);
    QCOMPARE(version, QStringLiteral("1.0"));

    for (int id : { 6, 7 }) {
        package(id)->setState(Package::INSTALLED);
        m_controller->saveState(package(id), package(id)->versions().first()->version);
    }
    auto names = [this](const QString &version) {
        QStringList ids;
        for (const auto &p : m_controller->dependents(package(4), version))
            ids << QString::number(p->id());
        return ids;
    };
    QCOMPARE(names(QString()), QStringList({ "6", "7" }));
    QCOMPARE(names("1.0"), QStringList({ "7" }));
    QCOMPARE(names("1.5"), QStringList());
    QVERIFY(m_controller->activeDownload(package(5)).isNull());
    QCOMPARE(m_controller->categories(), QVector<QString>({ "PLUGIN", "LIBRARY" }));
}

void TestPackageController::reloadDuringDownloadInstallsOnce()
{
    addPackage(10, "PLUGIN", { { "1.0.0", "a.7z", "Resources/plugins/A", {}, {}, {}, {} } });
    serveArchive("a.7z", { { "big.bin", randomBytes(512 * 1024, 3) } }, true);
    HttpServer::Behaviour slow;
    slow.trickleBytes = 16 * 1024;
    slow.trickleIntervalMs = 10;
    m_server->setBehaviour("/a.7z", slow);
    loadCatalogue();
    const auto first = package(10);
    QString version;
    m_controller->installPackage(first, version);
    QVERIFY(waitFor(10, Package::DOWNLOADING));
    QVERIFY(!m_controller->activeDownload(first).isNull());

    // A reload in the middle: the list now shows a new object for the same package.
    loadCatalogue();
    const auto second = package(10);
    QVERIFY(second != first);
    QCOMPARE(second->state(), Package::AVAILABLE);
    version.clear();
    m_controller->installPackage(second, version);
    QVERIFY(waitFor(10, Package::INSTALLED));
    QCOMPARE(first->state(), Package::INSTALLED);
    QTest::qWait(200);
    QCOMPARE(gets().size(), 1);
    QCOMPARE(m_installedOrder.count("10"), 2); // once for each object, from one installation
    QCOMPARE(row(10), qMakePair(QStringLiteral("1.0.0"), 1));
}

void TestPackageController::backupsOfBusyPackagesAreShared_data()
{
    QTest::addColumn<int>("otherState");
    QTest::addColumn<bool>("shared");
    // Installed in 1.0.0, which backs up nothing.
    QTest::newRow("installed") << int(Package::INSTALLED) << false;
    QTest::newRow("downloading") << int(Package::DOWNLOADING) << true;
    QTest::newRow("installing") << int(Package::INSTALLING) << true;
    QTest::newRow("preparing") << int(Package::PREPARING) << true;
    QTest::newRow("available") << int(Package::AVAILABLE) << false;
    QTest::newRow("failed download") << int(Package::DOWNLOAD_ERROR) << false;
}

void TestPackageController::backupsOfBusyPackagesAreShared()
{
    QFETCH(int, otherState);
    QFETCH(bool, shared);
    const QString earth = "Resources/default data/earth.dat";
    addPackage(60, "PLUGIN", { { "1.0.0", "s1.7z", "Resources/plugins/S1", {}, {}, { earth }, {} } });
    // Only its newer version backs the file up: a package on its way may bring any of its versions.
    addPackage(61, "PLUGIN", { { "2.0.0", "s2.7z", "Resources/plugins/S2", {}, {}, { earth }, {} },
                               { "1.0.0", "s2-1.7z", "Resources/plugins/S2", {}, {}, {}, {} } });
    loadCatalogue();
    m_controller->saveState(package(61), "1.0.0");
    package(61)->setState(Package::State(otherState));
    const QSet<QString> sharedBackups = m_controller->fileContext(package(60)).sharedBackups;
    QCOMPARE(sharedBackups.contains(earth), shared);
}

void TestPackageController::checksumMismatchTouchesNothing()
{
    addPackage(70, "PLUGIN", { { "1.0.0", "h.7z", "Resources/plugins/H", {}, {}, {}, { "Resources/plugins/H" } } });
    serveArchive("h.7z", { { "h.xpl", "H" } });
    // The catalogue describes another archive than the server has.
    QJsonObject entry = m_catalogue.last().toObject();
    QJsonArray versions = entry.value("versions").toArray();
    QJsonObject version = versions.first().toObject();
    version.insert("sha256", QString(64, QLatin1Char('0')));
    versions.replace(0, version);
    entry.insert("versions", versions);
    m_catalogue.replace(m_catalogue.size() - 1, entry);
    loadCatalogue();

    QString wanted;
    m_controller->installPackage(package(70), wanted);
    QVERIFY(waitFor(70, Package::DOWNLOAD_ERROR));
    QCOMPARE(package(70)->failureReason(), QStringLiteral("Version 1.0.0: Checksum mismatch."));
    // Fetched once more from zero, then given up; the X-Plane folder never saw it.
    QCOMPARE(gets().count(QStringLiteral("GET /h.7z")), 2);
    QVERIFY(!QFileInfo::exists(xp("Resources/plugins/H")));
}

void TestPackageController::manifestRecordsInstalledFiles()
{
    // The remove list forgets one file on purpose.
    addPackage(80, "PLUGIN", { { "2.0.0", "m2.7z", "Resources/plugins/M", {}, {}, {}, { "Resources/plugins/M/m.xpl" } },
                               { "1.0.0", "m1.7z", "Resources/plugins/M", {}, {}, {}, { "Resources/plugins/M/m.xpl" } } });
    serveArchive("m1.7z", { { "m.xpl", "A" }, { "sub/readme.txt", "hello manifest" } });
    serveArchive("m2.7z", { { "m.xpl", "A" } });
    loadCatalogue();
    QString version = "1.0.0";
    m_controller->installPackage(package(80), version);
    QVERIFY(waitFor(80, Package::INSTALLED));
    auto files = m_controller->manifest(package(80));
    QCOMPARE(files.size(), 2);
    // Path, size and the CRC32 the archive listing gave (zlib.crc32 of the contents).
    QCOMPARE(files.at(0).path, QStringLiteral("Resources/plugins/M/m.xpl"));
    QCOMPARE(files.at(0).size, qint64(1));
    QCOMPARE(files.at(0).crc, 0xd3d99e8bu);
    QCOMPARE(files.at(1).path, QStringLiteral("Resources/plugins/M/sub/readme.txt"));
    QCOMPARE(files.at(1).crc, 0x6bb0ce94u);

    // Replaced on update.
    version.clear();
    m_controller->installPackage(package(80), version);
    QVERIFY(waitFor(80, Package::INSTALLED));
    QCOMPARE(m_controller->manifest(package(80)).size(), 1);

    m_controller->uninstallPackage(package(80));
    QTRY_VERIFY(!m_controller->isInstalling());
    QCOMPARE(package(80)->state(), Package::AVAILABLE);
    QVERIFY(m_controller->manifest(package(80)).isEmpty());

    // What the remove list misses is reported after the uninstallation.
    QVERIFY(QDir(xp("Resources/plugins/M")).removeRecursively());
    version = "1.0.0";
    m_controller->installPackage(package(80), version);
    QVERIFY(waitFor(80, Package::INSTALLED));
    KOVTest::LogCapture log;
    m_controller->uninstallPackage(package(80));
    QTRY_VERIFY(!m_controller->isInstalling());
    QVERIFY(log.contains("Still in the X-Plane folder after uninstalling :  \"Resources/plugins/M/sub/readme.txt\""));
    QVERIFY(!log.contains("Still in the X-Plane folder after uninstalling :  \"Resources/plugins/M/m.xpl\""));
}

void TestPackageController::verifyFindsChanges_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("missing");
    QTest::addColumn<QStringList>("changed");
    QTest::addColumn<QStringList>("preservedChanged");
    const QString plugin = "Resources/plugins/V/v.xpl";
    const QString settings = "Resources/plugins/V/prefs/settings.ini";
    QTest::newRow("untouched") << "" << QStringList() << QStringList() << QStringList();
    QTest::newRow("same size, other bytes") << "flip" << QStringList() << QStringList { plugin } << QStringList();
    QTest::newRow("other size") << "grow" << QStringList() << QStringList { plugin } << QStringList();
    QTest::newRow("deleted") << "delete" << QStringList { plugin } << QStringList() << QStringList();
    QTest::newRow("preserved file edited") << "edit" << QStringList() << QStringList() << QStringList { settings };
}

void TestPackageController::verifyFindsChanges()
{
    QFETCH(QString, change);
    QFETCH(QStringList, missing);
    QFETCH(QStringList, changed);
    QFETCH(QStringList, preservedChanged);
    addPackage(81, "PLUGIN", { { "1.0.0", "v.7z", "Resources/plugins/V", {}, { "Resources/plugins/V/prefs" }, {},
                                 { "Resources/plugins/V" } } });
    serveArchive("v.7z", { { "v.xpl", "plugin code" }, { "prefs/settings.ini", "shipped" } });
    loadCatalogue();
    QString version;
    m_controller->installPackage(package(81), version);
    QVERIFY(waitFor(81, Package::INSTALLED));
    const QString plugin = xp("Resources/plugins/V/v.xpl");
    if (change == "flip")
        QVERIFY(KOVTest::writeFile(plugin, "plugin cod3"));
    else if (change == "grow")
        QVERIFY(KOVTest::writeFile(plugin, "plugin code, patched"));
    else if (change == "delete")
        QVERIFY(QFile::remove(plugin));
    else if (change == "edit")
        QVERIFY(KOVTest::writeFile(xp("Resources/plugins/V/prefs/settings.ini"), "the user's"));

    QVector<int> progress;
    const KOV::Controllers::VerifyResult result = KOV::Controllers::ManifestVerifier::verify(
        xp(), m_controller->manifest(package(81)), { "Resources/plugins/V/prefs" },
        [&progress](int done, int) { progress << done; });
    QCOMPARE(result.missing, missing);
    QCOMPARE(result.changed, changed);
    QCOMPARE(result.changedPreserved, preservedChanged);
    QCOMPARE(result.isIntact(), missing.isEmpty() && changed.isEmpty());
    QCOMPARE(progress, QVector<int>({ 1, 2 }));
}

void TestPackageController::filesOfAnotherPackageNeedConsent()
{
    const QString shared = "Resources/plugins/Shared/shared.dat";
    addPackage(90, "PLUGIN", { { "1.0.0", "a90.7z", "Resources/plugins/Shared", {}, {}, {}, { shared } } });
    addPackage(91, "PLUGIN", { { "1.0.0", "b91.7z", "Resources/plugins/Shared", {}, {}, {},
                                 { "Resources/plugins/Shared/b.txt" } } });
    serveArchive("a90.7z", { { "shared.dat", "A" } });
    serveArchive("b91.7z", { { "shared.dat", "B" }, { "b.txt", "b" } });
    loadCatalogue();
    QString version;
    m_controller->installPackage(package(90), version);
    QVERIFY(waitFor(90, Package::INSTALLED));

    QSignalSpy conflicts(m_controller.data(), &PackageController::conflictsFound);
    version.clear();
    m_controller->installPackage(package(91), version);
    QVERIFY(conflicts.wait(30000));
    QCOMPARE(conflicts.first().at(1).toString(), QStringLiteral("Package 90"));
    QCOMPARE(conflicts.first().at(2).toStringList(), QStringList { shared });
    // Nothing changed while the question is open, and No leaves it so.
    QCOMPARE(package(91)->state(), Package::AVAILABLE);
    QCOMPARE(KOVTest::readFile(xp(shared)), QByteArray("A"));
    QVERIFY(!QFileInfo::exists(xp("Resources/plugins/Shared/b.txt")));
    m_controller->resolveConflicts(package(91), false);
    QCOMPARE(package(91)->state(), Package::AVAILABLE);
    QCOMPARE(row(91).second, int(Package::AVAILABLE));
    QVERIFY(QFileInfo::exists(KOVTest::cachedFile(m_home->path() + "/cache", m_server->url("/b91.7z"))));

    // Asked again at the next try, from the kept archive; Yes overwrites.
    version.clear();
    m_controller->installPackage(package(91), version);
    QVERIFY(conflicts.wait(30000));
    QCOMPARE(gets().count(QStringLiteral("GET /b91.7z")), 1);
    m_controller->resolveConflicts(package(91), true);
    QVERIFY(waitFor(91, Package::INSTALLED));
    QCOMPARE(KOVTest::readFile(xp(shared)), QByteArray("B"));
    QCOMPARE(KOVTest::readFile(xp("Resources/plugins/Shared/b.txt")), QByteArray("b"));
}

QTEST_MAIN(TestPackageController)
#include "tst_packagecontroller.moc"
