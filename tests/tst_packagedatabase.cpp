#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <QNetworkAccessManager>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "app/settings.h"
#include "controllers/folderpresence.h"
#include "controllers/packagecontroller.h"
#include "managers/downloadmanager.h"
#include "testsupport.h"

using KOV::Controllers::PackageController;
using KOV::Models::Package;
using KOV::Models::PackageVersion;

namespace {

QSharedPointer<Package> makePackage(int id, const QString &extract, const QStringList &versions = { "1.0" })
{
    auto package = QSharedPointer<Package>(new Package);
    package->setId(id);
    QVector<QSharedPointer<PackageVersion>> list;
    for (const QString &version : versions) {
        auto record = QSharedPointer<PackageVersion>::create();
        record->version = version;
        record->install = QSharedPointer<KOV::Models::InstallInstructions>::create();
        record->install->extract = extract;
        record->uninstall = QSharedPointer<KOV::Models::UninstallInstructions>::create();
        list << record;
    }
    package->setVersions(list);
    package->setState(Package::AVAILABLE);
    return package;
}

// Reads packages.db through a connection of its own, as another program would.
QList<QVariantList> rows(const QString &file)
{
    QList<QVariantList> result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("inspect"));
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery query(QStringLiteral("SELECT package_id, version, status, typeof(version) FROM packages "
                                           "ORDER BY package_id"),
                            db);
            while (query.next())
                result << QVariantList { query.value(0), query.value(1), query.value(2), query.value(3) };
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("inspect"));
    return result;
}

} // namespace

class TestPackageDatabase final : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void createsTableAtOpen();
    void versionRoundTrip_data();
    void versionRoundTrip();
    void savingTwiceUpdatesOneRow();
    void statusLookup();
    void versionFile_data();
    void versionFile();
    void folderPresence_data();
    void folderPresence();
    void resetClosesAndDeletes();
    void unreadableFileIsSetAsideAndRebuilt();
    void damagedFilesAreNumbered();
    void heldOrRefusedFileIsLeftAlone_data();
    void heldOrRefusedFileIsLeftAlone();
    void oldNumericVersionsAreMigrated();

private:
    void reopen()
    {
        m_controller.reset();
        m_controller = QSharedPointer<PackageController>::create(m_settings, m_downloads);
    }
    QString dbFile() const { return m_home->dataPath() + QStringLiteral("/packages.db"); }
    QString root() const { return m_home->path() + QStringLiteral("/X-Plane/"); }

    QScopedPointer<KOVTest::TemporaryHome> m_home;
    QSharedPointer<KOV::Settings> m_settings;
    QSharedPointer<KOV::Managers::DownloadManager> m_downloads;
    QSharedPointer<PackageController> m_controller;
};

void TestPackageDatabase::init()
{
    m_home.reset(new KOVTest::TemporaryHome);
    QCoreApplication::setOrganizationName(QStringLiteral("Tarrowmere"));
    QCoreApplication::setApplicationName(QStringLiteral("KOV Vazuv"));
    m_settings = QSharedPointer<KOV::Settings>::create();
    m_settings->edited().installation.value = root();
    m_settings->edited().cache.value = m_home->path() + QStringLiteral("/cache/");
    m_settings->commit();
    QDir().mkpath(root());
    m_downloads = QSharedPointer<KOV::Managers::DownloadManager>::create(
        m_settings, QSharedPointer<QNetworkAccessManager>::create());
    m_controller = QSharedPointer<PackageController>::create(m_settings, m_downloads);
    m_controller->openDatabase();
}

void TestPackageDatabase::cleanup()
{
    m_controller.reset();
    m_downloads.reset();
    m_settings.reset();
    m_home.reset();
}

void TestPackageDatabase::createsTableAtOpen()
{
    QVERIFY(QFileInfo::exists(dbFile()));
    {
        QSqlQuery mode(QStringLiteral("PRAGMA journal_mode"),
                       QSqlDatabase::database(QStringLiteral("PackageDatabaseConnection")));
        QVERIFY(mode.next());
        QCOMPARE(mode.value(0).toString(), QStringLiteral("wal"));
    }
    QVERIFY(QFileInfo::exists(m_home->dataPath() + QStringLiteral("/download.db")));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("schema"));
    db.setDatabaseName(dbFile());
    QVERIFY(db.open());
    QSqlQuery query(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'packages'"), db);
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(),
             QStringLiteral("CREATE TABLE packages (id         INTEGER     PRIMARY KEY AUTOINCREMENT,package_id "
                            "INTEGER     UNIQUE,version TEXT,status     INTEGER (1) NOT NULL)"));
    QSqlQuery downloads(QStringLiteral("ATTACH DATABASE '%1' AS dl").arg(m_home->dataPath() + "/download.db"), db);
    QSqlQuery table(QStringLiteral("SELECT count(*) FROM dl.sqlite_master WHERE name = 'downloads'"), db);
    QVERIFY(table.next());
    QCOMPARE(table.value(0).toInt(), 1);
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("schema"));
}

void TestPackageDatabase::versionRoundTrip_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("readBack");
    QTest::addColumn<QString>("installed"); // what the package's own version list makes of it
    QTest::newRow("dotted text stays text") << "1.2.3" << "1.2.3" << "1.2.3";
    QTest::newRow("decimal keeps its zero") << "2.0" << "2.0" << "2.0";
    QTest::newRow("decimal keeps a trailing zero") << "1.10" << "1.10" << "1.10";
    QTest::newRow("integer") << "3" << "3" << "3";
    QTest::newRow("words") << "abc" << "abc" << "abc";
}

void TestPackageDatabase::versionRoundTrip()
{
    QFETCH(QString, stored);
    QFETCH(QString, readBack);
    QFETCH(QString, installed);
    auto package = makePackage(7, QStringLiteral("Custom Scenery/Thing"), { "3.1", stored, "0.9" });
    package->setState(Package::DOWNLOADING);
    m_controller->saveState(package, stored);
    QCOMPARE(m_controller->databaseVersion(package), readBack);
    QCOMPARE(m_controller->installedVersion(package), installed);
    QCOMPARE(m_controller->databaseStatus(package), int(Package::DOWNLOADING));
}

void TestPackageDatabase::savingTwiceUpdatesOneRow()
{
    auto package = makePackage(4, QStringLiteral("plugins/A"));
    package->setState(Package::DOWNLOADING);
    m_controller->saveState(package, QStringLiteral("1.0.1"));
    package->setState(Package::INSTALLED);
    m_controller->saveState(package, QStringLiteral("1.0.2"));
    const QList<QVariantList> stored = rows(dbFile());
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored.first().at(0).toInt(), 4);
    QCOMPARE(stored.first().at(1).toString(), QStringLiteral("1.0.2"));
    QCOMPARE(stored.first().at(2).toInt(), 1);
}

void TestPackageDatabase::statusLookup()
{
    auto package = makePackage(12, QStringLiteral("plugins/B"));
    QCOMPARE(m_controller->databaseStatus(package), -1);
    QVERIFY(m_controller->installedVersion(package).isEmpty());
    package->setState(Package::INSTALL_ERROR);
    m_controller->saveState(package, QStringLiteral("0.9"));
    QCOMPARE(m_controller->databaseStatus(package), int(Package::INSTALL_ERROR));
}

void TestPackageDatabase::versionFile_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("extract");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("version");

    QTest::newRow("plugin") << 5 << "Resources/plugins/Foo" << "Resources/plugins/Foo/KOV_version.txt"
                            << QByteArray("Foo\nbuilt by us\n2.1.0\n") << "2.1.0";
    QTest::newRow("windows line ends") << 5 << "Resources/plugins/Foo" << "Resources/plugins/Foo/KOV_version.txt"
                                       << QByteArray("Foo\r\nx\r\n2.1.0\r\n") << "2.1.0";
    QTest::newRow("library one level deeper") << 1 << "Custom Data" << "Custom Data/lib/KOV_Library/KOV_version.txt"
                                              << QByteArray("Lib\n\n1.4\n") << "1.4";
    QTest::newRow("library not at the plain place") << 1 << "Custom Data" << "Custom Data/KOV_version.txt"
                                                    << QByteArray("Lib\n\n1.4\n") << "";
    QTest::newRow("empty third line") << 5 << "plugins/Foo" << "plugins/Foo/KOV_version.txt"
                                      << QByteArray("Foo\nx\n\n4.0\n") << "";
    QTest::newRow("two lines only") << 5 << "plugins/Foo" << "plugins/Foo/KOV_version.txt"
                                    << QByteArray("Foo\n1.0\n") << "";
    QTest::newRow("empty extract is the root") << 6 << "" << "KOV_version.txt" << QByteArray("a\nb\n3\n") << "3";
}

void TestPackageDatabase::versionFile()
{
    QFETCH(int, id);
    QFETCH(QString, extract);
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(QString, version);

    QVERIFY(KOVTest::writeFile(root() + file, content));
    auto package = makePackage(id, extract);
    QCOMPARE(m_controller->databaseStatus(package), version.isEmpty() ? -1 : int(Package::INSTALLED));
    QCOMPARE(package->state(), version.isEmpty() ? Package::AVAILABLE : Package::INSTALLED);

    const QList<QVariantList> stored = rows(dbFile());
    if (version.isEmpty()) {
        QVERIFY(stored.isEmpty());
        QVERIFY(m_controller->installedVersion(package).isEmpty());
    } else {
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored.first().at(2).toInt(), 1);
        QCOMPARE(m_controller->installedVersion(package), version);
    }
}

void TestPackageDatabase::folderPresence_data()
{
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<bool>("exists");
    QTest::newRow("there") << QStringList { "a/b", "a/c" } << "" << "" << "a/b" << true;
    QTest::newRow("sibling missing") << QStringList { "a/c" } << "" << "" << "a/b" << false;
    QTest::newRow("parent missing") << QStringList {} << "" << "" << "x/y" << false;
    QTest::newRow("trailing slash") << QStringList { "a/b" } << "" << "" << "a/b/" << true;
    QTest::newRow("dot dot") << QStringList { "a/b" } << "" << "" << "a/c/../b" << true;
    QTest::newRow("hidden") << QStringList { "a/.b" } << "" << "" << "a/.b" << true;
    QTest::newRow("a file of that name") << QStringList { "a" } << "a/b" << "" << "a/b" << false;
    QTest::newRow("link to a folder") << QStringList { "a/real" } << "" << "a/b" << "a/b" << true;
    QTest::newRow("space in names") << QStringList { "Custom Scenery/My Airport" } << "" << ""
                                    << "Custom Scenery/My Airport" << true;
}

void TestPackageDatabase::folderPresence()
{
    QFETCH(QStringList, folders);
    QFETCH(QString, file);
    QFETCH(QString, link);
    QFETCH(QString, asked);
    QFETCH(bool, exists);
    const QString base = m_home->path() + QStringLiteral("/presence/");
    for (const QString &folder : folders)
        QVERIFY(QDir().mkpath(base + folder));
    if (!file.isEmpty())
        QVERIFY(KOVTest::writeFile(base + file, "x"));
    if (!link.isEmpty())
        QVERIFY(QFile::link(base + "a/real", base + link));
    KOV::Controllers::FolderPresence presence;
    QCOMPARE(presence.exists(base + asked), exists);
    // A second question about the same parent is answered from the first listing, alike.
    QCOMPARE(presence.exists(base + asked), exists);
}

void TestPackageDatabase::resetClosesAndDeletes()
{
    auto package = makePackage(3, QStringLiteral("plugins/C"));
    package->setState(Package::INSTALLED);
    m_controller->saveState(package, QStringLiteral("1.0"));

    m_controller->resetDatabase();
    QVERIFY(!QFileInfo::exists(dbFile()));
    // Its write-ahead log goes with it, or the next file would read a stale one.
    QVERIFY(!QFileInfo::exists(dbFile() + "-wal"));
    QVERIFY(!QFileInfo::exists(dbFile() + "-shm"));
    QVERIFY(!QFileInfo::exists(m_home->dataPath() + QStringLiteral("/download.db")));

    // Closed until the next open: writes are skipped, every status is unknown.
    m_controller->saveState(package, QStringLiteral("1.1"));
    QCOMPARE(m_controller->databaseStatus(package), int(Package::UNKNOWN));
    QVERIFY(m_controller->databaseVersion(package).isEmpty());
    QVERIFY(!QFileInfo::exists(dbFile()));

    m_controller->openDatabase();
    QVERIFY(QFileInfo::exists(dbFile()));
    QCOMPARE(m_controller->databaseStatus(package), -1);
}

void TestPackageDatabase::unreadableFileIsSetAsideAndRebuilt()
{
    auto package = makePackage(7, QStringLiteral("Custom Scenery/Thing"), { "1.5" });
    QVERIFY(KOVTest::writeFile(PackageController::versionFilePath(root(), package), "Thing\n\n1.5\n"));
    m_controller.reset();
    const QByteArray garbage(4096, 'x');
    QVERIFY(KOVTest::writeFile(dbFile(), garbage));

    reopen();
    QSignalSpy rebuilt(m_controller.data(), &PackageController::databaseRebuilt);
    m_controller->openDatabase();
    QCOMPARE(rebuilt.count(), 1);
    QCOMPARE(rebuilt.first().first().toString(), dbFile() + ".broken");
    QCOMPARE(KOVTest::readFile(dbFile() + ".broken"), garbage);
    // The version file tells what is installed, and the new file keeps it.
    QCOMPARE(m_controller->databaseStatus(package), int(Package::INSTALLED));
    QCOMPARE(m_controller->databaseVersion(package), QStringLiteral("1.5"));

    // Told once: the rebuilt file opens as any other.
    reopen();
    QSignalSpy again(m_controller.data(), &PackageController::databaseRebuilt);
    m_controller->openDatabase();
    QCOMPARE(again.count(), 0);
    QCOMPARE(m_controller->databaseVersion(package), QStringLiteral("1.5"));
}

void TestPackageDatabase::damagedFilesAreNumbered()
{
    m_controller.reset();
    QVERIFY(KOVTest::writeFile(dbFile() + ".broken", "an earlier damaged file"));
    QVERIFY(KOVTest::writeFile(dbFile() + ".broken.2", "and another"));
    QVERIFY(KOVTest::writeFile(dbFile(), QByteArray(4096, 'y')));

    reopen();
    QSignalSpy rebuilt(m_controller.data(), &PackageController::databaseRebuilt);
    m_controller->openDatabase();
    QCOMPARE(rebuilt.count(), 1);
    QCOMPARE(rebuilt.first().first().toString(), dbFile() + ".broken.3");
    QCOMPARE(KOVTest::readFile(dbFile() + ".broken.3"), QByteArray(4096, 'y'));
    QCOMPARE(KOVTest::readFile(dbFile() + ".broken"), QByteArray("an earlier damaged file"));
    QCOMPARE(KOVTest::readFile(dbFile() + ".broken.2"), QByteArray("and another"));
}

void TestPackageDatabase::heldOrRefusedFileIsLeftAlone_data()
{
    QTest::addColumn<QString>("hold");
    QTest::addColumn<bool>("busy");
    // What a backup tool or a curious user with sqlite3 does.
    QTest::newRow("locked by sqlite3") << "exclusive" << true;
    QTest::newRow("a folder in its place") << "folder" << false;
}

void TestPackageDatabase::heldOrRefusedFileIsLeftAlone()
{
    QFETCH(QString, hold);
    QFETCH(bool, busy);
    auto package = makePackage(7, QStringLiteral("Custom Scenery/Thing"), { "1.5" });
    m_controller->openDatabase();
    package->setState(Package::INSTALLED);
    m_controller->saveState(package, QStringLiteral("1.5"));
    m_controller.reset();
    const QList<QVariantList> before = rows(dbFile());
    QCOMPARE(before.size(), 1);

    QProcess sqlite;
    if (hold == "exclusive") {
        sqlite.start("sqlite3", { dbFile() });
        QVERIFY(sqlite.waitForStarted());
        // sqlite3 buffers what it prints into a pipe; a file it closes tells that the lock is held.
        const QString held = m_home->path() + "/held";
        sqlite.write(QStringLiteral("BEGIN EXCLUSIVE;\n.output '%1'\nSELECT 'held';\n.output stdout\n")
                         .arg(held)
                         .toUtf8());
        QTRY_VERIFY_WITH_TIMEOUT(KOVTest::readFile(held).contains("held"), 10000);
    } else {
        QVERIFY(QFile::rename(dbFile(), dbFile() + ".kept"));
        QVERIFY(QDir().mkpath(dbFile()));
    }

    reopen();
    QSignalSpy unavailable(m_controller.data(), &PackageController::databaseUnavailable);
    QSignalSpy rebuilt(m_controller.data(), &PackageController::databaseRebuilt);
    QElapsedTimer waited;
    waited.start();
    m_controller->openDatabase();
    QCOMPARE(rebuilt.count(), 0);
    QCOMPARE(unavailable.count(), 1);
    QCOMPARE(unavailable.first().at(0).toBool(), busy);
    QCOMPARE(unavailable.first().at(1).toString(), dbFile());
    if (busy)
        QVERIFY2(waited.elapsed() >= 3000, "a held file is waited for a few seconds");
    // Nothing set aside, nothing deleted, and nothing claimed about the packages.
    QVERIFY(!QFileInfo::exists(dbFile() + ".broken"));
    QCOMPARE(m_controller->databaseStatus(package), int(Package::UNKNOWN));

    if (hold == "exclusive") {
        sqlite.write("COMMIT;\n.quit\n");
        sqlite.closeWriteChannel();
        QVERIFY(sqlite.waitForFinished(10000));
    } else {
        QVERIFY(QDir(dbFile()).removeRecursively());
        QVERIFY(QFile::rename(dbFile() + ".kept", dbFile()));
    }
    QCOMPARE(rows(dbFile()), before);
    // Once let go, the records are there as they were.
    reopen();
    m_controller->openDatabase();
    QCOMPARE(m_controller->databaseStatus(package), int(Package::INSTALLED));
    QCOMPARE(m_controller->databaseVersion(package), QStringLiteral("1.5"));
}

void TestPackageDatabase::oldNumericVersionsAreMigrated()
{
    m_controller.reset();
    QFile::remove(dbFile());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old"));
        db.setDatabaseName(dbFile());
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec("CREATE TABLE packages (id INTEGER PRIMARY KEY AUTOINCREMENT,package_id INTEGER UNIQUE,"
                           "version STRING,status INTEGER (1) NOT NULL)"));
        QVERIFY(query.exec("INSERT INTO packages(package_id,version,status) VALUES (7,'2.0',1)"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("old"));

    reopen();
    QSignalSpy rebuilt(m_controller.data(), &PackageController::databaseRebuilt);
    m_controller->openDatabase();
    QCOMPARE(rebuilt.count(), 0);
    auto package = makePackage(7, QStringLiteral("Custom Scenery/Thing"), { "3.1", "2.0" });
    // The old row still reads, in the catalogue's spelling; new rows keep theirs.
    QCOMPARE(m_controller->databaseVersion(package), QStringLiteral("2"));
    QCOMPARE(m_controller->installedVersion(package), QStringLiteral("2.0"));
    QCOMPARE(m_controller->databaseStatus(package), int(Package::INSTALLED));
    package->setState(Package::INSTALLED);
    m_controller->saveState(package, "3.10");
    QCOMPARE(m_controller->databaseVersion(package), QStringLiteral("3.10"));
}

QTEST_MAIN(TestPackageDatabase)
#include "tst_packagedatabase.moc"
