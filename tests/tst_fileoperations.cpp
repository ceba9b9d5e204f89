#include <QNetworkAccessManager>
#include <QtTest>

#include "app/settings.h"
#include "controllers/packagecontroller.h"
#include "managers/downloadmanager.h"
#include "testsupport.h"

using KOV::Controllers::FileContext;
using KOV::Controllers::PackageController;
using KOV::Controllers::PackageInstaller;
using KOV::Models::Package;
using KOV::Models::PackageVersion;
using KOVTest::makeVersion;

namespace {

const QString settingsFile = QStringLiteral("Resources/plugins/Tool/settings.ini");
const QString earthFile = QStringLiteral("Resources/default data/earth.dat");

} // namespace

class TestFileOperations final : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void updateKeepsUserFilesAndUninstallRestoresXPlane();
    void failingExtractionLeavesOldVersion();
    void uninstallThatCannotFinishChangesNothing();
    void reinstallOverExistingFiles();
    void preservedFolderIsMergedBack();
    void entriesOutsideAreRefused_data();
    void entriesOutsideAreRefused();
    void extractFolderOutsideFailsFirst();
    void linkInRemoveListGoesAlone();
    void noArchiveNoChange();

private:
    QString xp(const QString &relative = QString()) const { return m_home->path() + "/X-Plane/" + relative; }
    QString archive(const QString &name, const QMap<QString, QByteArray> &files);
    /** The context of a package whose installed files are `own` (an installation's manifest). */
    FileContext context(const QSharedPointer<PackageVersion> &installed, const QStringList &own = {}) const;
    static QStringList own(const KOV::Controllers::InstallOutcome &outcome);

    QScopedPointer<KOVTest::TemporaryHome> m_home;
    QSharedPointer<KOV::Settings> m_settings;
    QSharedPointer<PackageController> m_controller;
    QSharedPointer<Package> m_package;
};

void TestFileOperations::init()
{
    m_home.reset(new KOVTest::TemporaryHome);
    QCoreApplication::setOrganizationName(QStringLiteral("Tarrowmere"));
    QCoreApplication::setApplicationName(QStringLiteral("KOV Vazuv"));
    m_settings = QSharedPointer<KOV::Settings>::create();
    m_settings->edited().installation.value = xp();
    m_settings->edited().cache.value = m_home->path() + QStringLiteral("/cache/");
    m_settings->edited().preserve.value = m_home->path() + QStringLiteral("/preserve/");
    m_settings->edited().backup.value = m_home->path() + QStringLiteral("/backup/");
    m_settings->commit();
    auto downloads = QSharedPointer<KOV::Managers::DownloadManager>::create(
        m_settings, QSharedPointer<QNetworkAccessManager>::create());
    m_controller = QSharedPointer<PackageController>::create(m_settings, downloads);

    // Unpacked into the X-Plane root; ships its own settings file and overwrites an X-Plane file.
    const QStringList preserve { settingsFile };
    const QStringList backup { earthFile };
    const QStringList remove { QStringLiteral("Resources/plugins/Tool"), earthFile };
    m_package = QSharedPointer<Package>(new Package);
    m_package->setId(5);
    m_package->setVersions({ makeVersion("2.0.0", "", preserve, backup, remove),
                             makeVersion("1.0.0", "", preserve, backup, remove) });
    m_package->setState(Package::AVAILABLE);
    m_package->setHasUpdate(true);
    QVERIFY(KOVTest::writeFile(xp(earthFile), "X-Plane's own earth"));
    QVERIFY(KOVTest::writeFile(xp("X-Plane-x86_64"), "#!"));
}

void TestFileOperations::cleanup()
{
    m_controller.reset();
    m_settings.reset();
    m_package.reset();
    m_home.reset();
}

QString TestFileOperations::archive(const QString &name, const QMap<QString, QByteArray> &files)
{
    const QString source = m_home->path() + "/src-" + name;
    QDir(source).removeRecursively();
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        KOVTest::writeFile(source + QLatin1Char('/') + it.key(), it.value());
    const QString path = m_home->path() + "/cache/" + name;
    QDir().mkpath(m_home->path() + "/cache");
    return KOVTest::make7z(path, source) ? path : QString();
}

FileContext TestFileOperations::context(const QSharedPointer<PackageVersion> &installed,
                                        const QStringList &own) const
{
    return { xp(), m_home->path() + "/preserve/", m_home->path() + "/backup/", installed, {}, {}, own, false };
}

QStringList TestFileOperations::own(const KOV::Controllers::InstallOutcome &outcome)
{
    QStringList files;
    for (const KOV::Controllers::ManifestEntry &entry : outcome.manifest)
        files << entry.path;
    return files;
}

void TestFileOperations::updateKeepsUserFilesAndUninstallRestoresXPlane()
{
    const auto v2 = m_package->versions().at(0);
    const auto v1 = m_package->versions().at(1);
    const QString first = archive("tool-1.7z", { { settingsFile, "shipped 1" },
                                                 { "Resources/plugins/Tool/tool.xpl", "tool 1" },
                                                 { earthFile, "package earth 1" } });
    QVERIFY(!first.isEmpty());
    // The database names the version being installed while it is installed.
    const auto installed = PackageInstaller::install(m_package, "1.0.0", first, context(v1));
    QVERIFY(installed.done);
    // The state is the completion handler's to set, on the GUI thread.
    QCOMPARE(m_package->state(), Package::AVAILABLE);
    QCOMPARE(KOVTest::readFile(xp(earthFile)), QByteArray("package earth 1"));
    QCOMPARE(KOVTest::readFile(m_home->path() + "/backup/" + earthFile), QByteArray("X-Plane's own earth"));
    QCOMPARE(KOVTest::readFile(xp(settingsFile)), QByteArray("shipped 1"));

    QVERIFY(KOVTest::writeFile(xp(settingsFile), "edited by the user"));
    const QString second = archive("tool-2.7z", { { settingsFile, "shipped 2" },
                                                  { "Resources/plugins/Tool/tool.xpl", "tool 2" },
                                                  { earthFile, "package earth 2" } });
    const auto updated = PackageInstaller::install(m_package, "2.0.0", second, context(v2, own(installed)));
    QVERIFY(updated.done);
    QCOMPARE(KOVTest::readFile(xp(settingsFile)), QByteArray("edited by the user"));
    QCOMPARE(KOVTest::readFile(xp("Resources/plugins/Tool/tool.xpl")), QByteArray("tool 2"));
    QCOMPARE(KOVTest::readFile(xp(earthFile)), QByteArray("package earth 2"));
    QCOMPARE(KOVTest::readFile(m_home->path() + "/backup/" + earthFile), QByteArray("X-Plane's own earth"));
    QVERIFY(!QFileInfo::exists(m_home->path() + "/preserve/" + settingsFile));

    QVERIFY(PackageInstaller::removeInstalledFiles(context(v2, own(updated))).done);
    QVERIFY(!QFileInfo::exists(xp("Resources/plugins/Tool")));
    // Nothing of the swap is left behind in the X-Plane folder.
    QCOMPARE(QDir(xp()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList({ "Resources", "X-Plane-x86_64" }));
    QCOMPARE(KOVTest::readFile(xp(earthFile)), QByteArray("X-Plane's own earth"));
    QVERIFY(!QFileInfo::exists(m_home->path() + "/backup/" + earthFile));
    QVERIFY(QFileInfo::exists(xp("X-Plane-x86_64")));
}

void TestFileOperations::failingExtractionLeavesOldVersion()
{
    const auto v1 = m_package->versions().at(1);
    // The remove list names X-Plane's file: the archive replaces it.
    const QString first = archive("tool-1.7z", { { settingsFile, "shipped 1" },
                                                 { "Resources/plugins/Tool/tool.xpl", "tool 1" },
                                                 { earthFile, "package earth 1" } });
    const QStringList files = own(PackageInstaller::install(m_package, "1.0.0", first, context(v1)));
    QVERIFY(!files.isEmpty());
    QVERIFY(KOVTest::writeFile(xp(settingsFile), "edited by the user"));

    const QString broken = m_home->path() + "/cache/broken.7z";
    QVERIFY(KOVTest::writeFile(broken, "<html>502 Bad Gateway</html>"));
    const auto failed = PackageInstaller::install(m_package, "2.0.0", broken, context(v1, files));
    QVERIFY(!failed.done);
    QCOMPARE(failed.reason, QStringLiteral("The archive is damaged"));
    // The old version is untouched and nothing was saved for an installation that did not happen.
    QCOMPARE(KOVTest::readFile(xp(settingsFile)), QByteArray("edited by the user"));
    QCOMPARE(KOVTest::readFile(xp("Resources/plugins/Tool/tool.xpl")), QByteArray("tool 1"));
    QVERIFY(!QFileInfo::exists(m_home->path() + "/preserve/" + settingsFile));
    QCOMPARE(KOVTest::readFile(xp(earthFile)), QByteArray("package earth 1"));

    const QString second = archive("tool-2.7z", { { settingsFile, "shipped 2" } });
    QVERIFY(PackageInstaller::install(m_package, "2.0.0", second, context(v1, files)).done);
    QCOMPARE(KOVTest::readFile(xp(settingsFile)), QByteArray("edited by the user"));
    QVERIFY(!QFileInfo::exists(xp("Resources/plugins/Tool/tool.xpl")));
}

void TestFileOperations::uninstallThatCannotFinishChangesNothing()
{
    const auto v1 = m_package->versions().at(1);
    const QString first = archive(
        "tool-1.7z", { { "Resources/plugins/Tool/tool.xpl", "tool 1" }, { earthFile, "package earth 1" } });
    const QStringList files = own(PackageInstaller::install(m_package, "1.0.0", first, context(v1)));
    QVERIFY(!files.isEmpty());
    // X-Plane's file cannot go back: a file now stands where its folder was.
    QVERIFY(QDir(xp("Resources/default data")).removeRecursively());
    QVERIFY(KOVTest::writeFile(xp("Resources/default data"), "in the way"));

    const auto outcome = PackageInstaller::removeInstalledFiles(context(v1, files));
    QVERIFY(!outcome.done);
    // The path that stood in the way is named.
    QCOMPARE(outcome.leftovers, QStringList { "Resources/default data" });
    QCOMPARE(KOVTest::readFile(xp("Resources/plugins/Tool/tool.xpl")), QByteArray("tool 1"));
    QCOMPARE(KOVTest::readFile(m_home->path() + "/backup/" + earthFile), QByteArray("X-Plane's own earth"));
    QCOMPARE(QDir(xp()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList({ "Resources", "X-Plane-x86_64" }));
}

void TestFileOperations::preservedFolderIsMergedBack()
{
    const QString profiles = QStringLiteral("Resources/plugins/Tool/profiles");
    auto two = makeVersion("2.0.0", "", { profiles }, {}, { QStringLiteral("Resources/plugins/Tool") });
    auto one = makeVersion("1.0.0", "", { profiles }, {}, { QStringLiteral("Resources/plugins/Tool") });
    m_package->setVersions({ two, one });
    const QString first = archive("tool-1.7z", { { profiles + "/default.prf", "shipped 1" },
                                                 { "Resources/plugins/Tool/tool.xpl", "tool 1" } });
    const QStringList files = own(PackageInstaller::install(m_package, "1.0.0", first, context(one)));
    QVERIFY(!files.isEmpty());
    QVERIFY(KOVTest::writeFile(xp(profiles + "/default.prf"), "the user's default"));
    QVERIFY(KOVTest::writeFile(xp(profiles + "/mine/cessna.prf"), "the user's own profile"));

    // A damaged update leaves the folder as it was, and saves nothing.
    const QString broken = m_home->path() + "/cache/broken.7z";
    QVERIFY(KOVTest::writeFile(broken, "not an archive"));
    QVERIFY(!PackageInstaller::install(m_package, "2.0.0", broken, context(one, files)).done);
    QVERIFY(!QFileInfo::exists(m_home->path() + "/preserve/" + profiles));

    const QString second = archive("tool-2.7z", { { profiles + "/default.prf", "shipped 2" },
                                                  { profiles + "/new.prf", "shipped 2" },
                                                  { "Resources/plugins/Tool/tool.xpl", "tool 2" } });
    QVERIFY(PackageInstaller::install(m_package, "2.0.0", second, context(one, files)).done);
    // The user's files win over the archive's, and what only the new version brings stays.
    QCOMPARE(KOVTest::readFile(xp(profiles + "/default.prf")), QByteArray("the user's default"));
    QCOMPARE(KOVTest::readFile(xp(profiles + "/mine/cessna.prf")), QByteArray("the user's own profile"));
    QCOMPARE(KOVTest::readFile(xp(profiles + "/new.prf")), QByteArray("shipped 2"));
    QCOMPARE(KOVTest::readFile(xp("Resources/plugins/Tool/tool.xpl")), QByteArray("tool 2"));
    QVERIFY(!QFileInfo::exists(m_home->path() + "/preserve/" + profiles));
}

void TestFileOperations::reinstallOverExistingFiles()
{
    const auto v2 = m_package->versions().at(0);
    const QString first = archive("tool-2.7z", { { "Resources/plugins/Tool/tool.xpl", "tool 2" },
                                                 { earthFile, "package earth 2" } });
    const QStringList files = own(PackageInstaller::install(m_package, "2.0.0", first, context(v2)));
    QVERIFY(!files.isEmpty());
    // Files the remove list does not cover are in place when 7-Zip runs again.
    QVERIFY(KOVTest::writeFile(xp("Resources/other/readme.txt"), "old"));
    const QString again = archive("tool-2b.7z", { { "Resources/other/readme.txt", "new" } });
    QElapsedTimer timer;
    timer.start();
    QVERIFY(PackageInstaller::install(m_package, "2.0.0", again, context(v2, files)).done);
    QVERIFY(timer.elapsed() < 20000);
    QCOMPARE(KOVTest::readFile(xp("Resources/other/readme.txt")), QByteArray("new"));
}

void TestFileOperations::entriesOutsideAreRefused_data()
{
    QTest::addColumn<QString>("entry");
    QTest::newRow("parent") << "../outside.txt";
    QTest::newRow("parent inside the path") << "Resources/../../outside.txt";
    QTest::newRow("absolute") << "@ABS@"; // replaced by a real path outside
    QTest::newRow("the root itself") << "";
    QTest::newRow("the root as a dot") << "./";
    QTest::newRow("windows drive") << "C:\\Windows\\outside.txt";
}

void TestFileOperations::entriesOutsideAreRefused()
{
    QFETCH(QString, entry);
    const QString outside = m_home->path() + "/outside.txt";
    entry.replace("@ABS@", outside);
    QVERIFY(KOVTest::writeFile(outside, "not the package's"));
    QVERIFY(KOVTest::writeFile(xp("keep.txt"), "X-Plane file"));

    const QStringList entries { entry };
    auto version = makeVersion("1.0", "Resources/plugins/Hostile", entries, entries, entries);
    auto package = QSharedPointer<Package>(new Package);
    package->setVersions({ version });
    const QString path = archive("hostile.7z", { { "plugin.xpl", "x" } });

    // Refused with the entry named, before anything changes, never skipped with a success.
    KOVTest::LogCapture log;
    const auto installed = PackageInstaller::install(package, "1.0", path, context(version));
    QVERIFY(!installed.done);
    QVERIFY2(installed.reason.startsWith("The package names a path outside the X-Plane folder: "),
             qPrintable(installed.reason));
    QVERIFY(!QFileInfo::exists(xp("Resources/plugins/Hostile")));
    const auto removed = PackageInstaller::removeInstalledFiles(context(version));
    QVERIFY(!removed.done);
    QVERIFY(!removed.reason.isEmpty());
    QCOMPARE(KOVTest::readFile(outside), QByteArray("not the package's"));
    QCOMPARE(KOVTest::readFile(xp("keep.txt")), QByteArray("X-Plane file"));
    QVERIFY(QFileInfo::exists(xp("X-Plane-x86_64")));
    QVERIFY(log.contains(QStringLiteral("Installation failed : ")));
    QVERIFY(log.contains(QStringLiteral("Uninstallation refused : ")));
}

void TestFileOperations::extractFolderOutsideFailsFirst()
{
    auto version = makeVersion("1.0", "../Escaped", { settingsFile }, { earthFile }, { earthFile });
    auto package = QSharedPointer<Package>(new Package);
    package->setVersions({ version });
    const QString path = archive("escape.7z", { { "a.txt", "a" } });
    const auto outcome = PackageInstaller::install(package, "1.0", path, context(version));
    QVERIFY(!outcome.done);
    QCOMPARE(outcome.reason, QStringLiteral("The package's folder lies outside the X-Plane folder: ../Escaped"));
    QVERIFY(!QFileInfo::exists(m_home->path() + "/Escaped"));
    // Nothing was touched: the X-Plane file is where it was, nothing was saved.
    QCOMPARE(KOVTest::readFile(xp(earthFile)), QByteArray("X-Plane's own earth"));
    QVERIFY(!QFileInfo::exists(m_home->path() + "/backup/" + earthFile));
}

void TestFileOperations::linkInRemoveListGoesAlone()
{
    const QString elsewhere = m_home->path() + "/Scenery elsewhere";
    QVERIFY(KOVTest::writeFile(elsewhere + "/airport.dsf", "scenery"));
    QVERIFY(QDir().mkpath(xp("Custom Scenery")));
    QVERIFY(QFile::link(elsewhere, xp("Custom Scenery/Airport")));
    auto version = makeVersion("1.0", "", {}, {}, { "Custom Scenery/Airport" });
    auto package = QSharedPointer<Package>(new Package);
    package->setVersions({ version });
    QVERIFY(PackageInstaller::removeInstalledFiles(context(version, { "Custom Scenery/Airport/airport.dsf" })).done);
    QVERIFY(!QFileInfo(xp("Custom Scenery/Airport")).isSymLink());
    QCOMPARE(KOVTest::readFile(elsewhere + "/airport.dsf"), QByteArray("scenery"));
}

void TestFileOperations::noArchiveNoChange()
{
    QVERIFY(
        !PackageInstaller::install(m_package, "2.0.0", QString(), context(m_package->versions().at(0))).done);
    QCOMPARE(KOVTest::readFile(xp(earthFile)), QByteArray("X-Plane's own earth"));
    QVERIFY(!QFileInfo::exists(m_home->path() + "/backup/" + earthFile));
}

QTEST_MAIN(TestFileOperations)
#include "tst_fileoperations.moc"
