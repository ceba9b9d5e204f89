// A package changes only what is its own: its remove list never takes X-Plane's folders, another vendor's
// files or what lies behind a link the user made, and its backups give back exactly what it replaced.

#include <QDirIterator>
#include <QtTest>

#include "controllers/packageinstaller.h"
#include "controllers/packagepaths.h"
#include "testsupport.h"

using KOV::Controllers::FileContext;
using KOV::Controllers::InstallOutcome;
using KOV::Controllers::PackageInstaller;
using KOV::Controllers::PackagePaths;
using KOV::Models::Package;
using KOV::Models::PackageVersion;

class TestOwnership final : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void removeRule_data();
    void removeRule();
    void installAndUninstall_data();
    void installAndUninstall();
    void backupGivesBackWhatItReplaced();
    void uninstallThroughALink();

private:
    QString xp(const QString &relative = QString()) const { return m_home->path() + "/X-Plane/" + relative; }
    /** Files "path=content" and links "path->target" below `root`. */
    void lay(const QString &root, const QStringList &items);
    QString archive(const QStringList &items);
    FileContext context(const QSharedPointer<PackageVersion> &installed, const QStringList &own,
                        const QHash<QString, int> &others = {}) const;
    static QStringList own(const InstallOutcome &outcome);

    QScopedPointer<KOVTest::TemporaryHome> m_home;
    int m_archives = 0;
};

void TestOwnership::init()
{
    m_home.reset(new KOVTest::TemporaryHome);
    QVERIFY(KOVTest::writeFile(xp("X-Plane-x86_64"), "#!"));
}

void TestOwnership::cleanup()
{
    m_home.reset();
}

void TestOwnership::lay(const QString &root, const QStringList &items)
{
    for (const QString &item : items) {
        if (item.contains("->")) {
            const QString path = root + "/" + item.section("->", 0, 0);
            QDir().mkpath(QFileInfo(path).absolutePath());
            QVERIFY(QFile::link(item.section("->", 1), path));
        } else {
            QVERIFY(KOVTest::writeFile(root + "/" + item.section('=', 0, 0), item.section('=', 1).toUtf8()));
        }
    }
}

QString TestOwnership::archive(const QStringList &items)
{
    const QString source = m_home->path() + QStringLiteral("/src%1").arg(++m_archives);
    lay(source, items);
    const QString path = m_home->path() + QStringLiteral("/cache/a%1.7z").arg(m_archives);
    QDir().mkpath(m_home->path() + "/cache");
    // Links are kept as links, as a publisher's archive may hold them.
    return KOVTest::make7z(path, source, { "-snl" }) ? path : QString();
}

FileContext TestOwnership::context(const QSharedPointer<PackageVersion> &installed, const QStringList &own,
                                   const QHash<QString, int> &others) const
{
    return { xp(), m_home->path() + "/preserve/", m_home->path() + "/backup/", installed, {}, others, own, true };
}

QStringList TestOwnership::own(const InstallOutcome &outcome)
{
    QStringList files;
    for (const auto &entry : outcome.manifest)
        files << entry.path;
    return files;
}

void TestOwnership::removeRule_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("extract");
    QTest::addColumn<QStringList>("own");
    QTest::addColumn<QStringList>("others");
    QTest::addColumn<bool>("allowed");
    const QStringList none;
    QTest::newRow("its own folder") << "Resources/plugins/Mine" << "Resources/plugins/Mine" << none << none << true;
    QTest::newRow("inside its own folder") << "Resources/plugins/Mine/old.xpl" << "Resources/plugins/Mine" << none
                                           << none << true;
    QTest::newRow("the plugins folder") << "Resources/plugins" << "Resources/plugins/Mine" << none << none << false;
    QTest::newRow("the plugins folder, spelt otherwise") << "./resources/plugins/" << "Resources/plugins/Mine"
                                                         << none << none << false;
    QTest::newRow("Output") << "Output" << "Resources/plugins/Mine" << none << none << false;
    QTest::newRow("the root") << "" << "" << none << none << false;
    QTest::newRow("the root as a dot") << "." << "Custom Scenery/A" << QStringList { "." } << none << false;
    QTest::newRow("an ancestor of its folder") << "Resources/plugins/Mine" << "Resources/plugins/Mine/bin"
                                               << QStringList { "Resources/plugins/Mine/bin/a.xpl" } << none << false;
    QTest::newRow("outside") << "../elsewhere" << "" << none << none << false;
    QTest::newRow("recorded file, unpacked into the root")
        << "Resources/default data/earth.dat" << "" << QStringList { "Resources/default data/earth.dat" } << none
        << true;
    QTest::newRow("folder of recorded files") << "Custom Data/lib/Mine" << "Custom Data"
                                              << QStringList { "Custom Data/lib/Mine/a.obj" } << none << true;
    QTest::newRow("not recorded, unpacked into the root")
        << "Resources/default data/other.dat" << "" << QStringList { "Resources/default data/earth.dat" } << none
        << false;
    QTest::newRow("inside an X-Plane folder it unpacks into") << "Custom Scenery/Old" << "Custom Scenery" << none
                                                              << none << false;
    QTest::newRow("a folder holding another package's file")
        << "Resources/plugins/Mine" << "Resources/plugins/Mine" << none
        << QStringList { "Resources/plugins/Mine/theirs.xpl" } << false;
    QTest::newRow("a file both recorded") << "Resources/default scenery/shared.dat" << ""
                                          << QStringList { "Resources/default scenery/shared.dat" }
                                          << QStringList { "Resources/default scenery/shared.dat" } << true;
}

void TestOwnership::removeRule()
{
    QFETCH(QString, entry);
    QFETCH(QString, extract);
    QFETCH(QStringList, own);
    QFETCH(QStringList, others);
    QFETCH(bool, allowed);
    QHash<QString, int> owners;
    for (const QString &file : others)
        owners.insert(file, 9);
    const QString refusal = PackagePaths::refuseRemove(entry, extract, PackagePaths::withFolders(own), owners);
    QVERIFY2(refusal.isEmpty() == allowed, qPrintable(refusal));
    if (!allowed)
        QVERIFY(refusal.startsWith("The package wants to remove ")
                || refusal.startsWith("The package names a path outside the X-Plane folder: "));
}

void TestOwnership::installAndUninstall_data()
{
    QTest::addColumn<QString>("extract");
    QTest::addColumn<QStringList>("remove");
    QTest::addColumn<QStringList>("preserve");
    QTest::addColumn<QStringList>("before"); // below the X-Plane folder's parent: "X-Plane/..." or a sibling
    QTest::addColumn<QStringList>("content"); // the archive
    QTest::addColumn<QString>("refusal"); // "" when it installs
    QTest::addColumn<QStringList>("after"); // files as they must be, below the X-Plane folder's parent
    const QStringList vendor { "X-Plane/Resources/plugins/Vendor/vendor.xpl=vendor",
                               "X-Plane/Output/preferences/X-Plane.prf=the user's settings" };
    QTest::newRow("a slip: the plugins folder and Output")
        << "Resources/plugins/Mine" << QStringList { "Resources/plugins", "Output" } << QStringList() << vendor
        << QStringList { "mine.xpl=mine" }
        << "The package wants to remove Resources/plugins, which holds files that are not its own." << vendor;
    QTest::newRow("its own folder") << "Resources/plugins/Mine" << QStringList { "Resources/plugins/Mine" }
                                    << QStringList() << vendor << QStringList { "mine.xpl=mine" } << QString()
                                    << QStringList { vendor + QStringList { "X-Plane/Resources/plugins/Mine/mine.xpl=mine" } };
    QTest::newRow("nothing there to remove") << "Resources/plugins/Mine" << QStringList { "Resources/plugins/Gone" }
                                             << QStringList() << vendor << QStringList { "mine.xpl=mine" } << QString()
                                             << vendor;
    QTest::newRow("X-Plane's file it does not bring")
        << "" << QStringList { "Resources/default data/earth.dat" } << QStringList()
        << QStringList { "X-Plane/Resources/default data/earth.dat=X-Plane's earth" }
        << QStringList { "Resources/plugins/Mine/mine.xpl=mine" }
        << "The package wants to remove Resources/default data/earth.dat, which holds files that are not its own."
        << QStringList { "X-Plane/Resources/default data/earth.dat=X-Plane's earth" };
    const QStringList sibling { "X-Plane/Resources/plugins/Evil->../../../sibling", "sibling/data.txt=not X-Plane's" };
    QTest::newRow("remove through a link the user made")
        << "Resources/plugins" << QStringList { "Resources/plugins/Evil/data.txt" } << QStringList() << sibling
        << QStringList { "Mine/mine.xpl=mine" }
        << "The package wants to remove Resources/plugins/Evil/data.txt, which holds files that are not its own."
        << QStringList { "sibling/data.txt=not X-Plane's" };
    QTest::newRow("remove through a link, named by the archive")
        << "Resources/plugins" << QStringList { "Resources/plugins/Evil/data.txt" } << QStringList() << sibling
        << QStringList { "Evil/data.txt=replaced" }
        << "Resources/plugins/Evil/data.txt leads outside the X-Plane folder through a link."
        << QStringList { "sibling/data.txt=not X-Plane's" };
    QTest::newRow("unpack through a link the user made")
        << "Resources/plugins" << QStringList() << QStringList() << sibling << QStringList { "Evil/new.txt=new" }
        << "Resources/plugins/Evil leads outside the X-Plane folder through a link." << QStringList { "sibling/data.txt=not X-Plane's" };
    QTest::newRow("preserve through a link the user made")
        << "Resources/plugins/Mine" << QStringList() << QStringList { "Resources/plugins/Evil/data.txt" } << sibling
        << QStringList { "mine.xpl=mine" }
        << "Resources/plugins/Evil/data.txt leads outside the X-Plane folder through a link."
        << QStringList { "sibling/data.txt=not X-Plane's" };
    QTest::newRow("its folder linked to another disk")
        << "Custom Scenery/Airport" << QStringList() << QStringList()
        << QStringList { "X-Plane/Custom Scenery/Airport->../../disk2/Airport", "disk2/Airport/old.dsf=old" }
        << QStringList { "new.dsf=new" } << QString()
        << QStringList { "disk2/Airport/new.dsf=new", "disk2/Airport/old.dsf=old" };
    QTest::newRow("a link of the archive that leads out")
        << "Resources/plugins/Mine" << QStringList() << QStringList() << QStringList()
        << QStringList { "mine.xpl=mine", "etc->../../../../../../../../../../etc" }
        << "The archive holds a link that leads outside its folder: Resources/plugins/Mine/etc" << QStringList();
    QTest::newRow("a link of the archive inside it")
        << "Resources/plugins/Mine" << QStringList() << QStringList() << QStringList()
        << QStringList { "lib/real.so=so", "lib/link.so->real.so" } << QString()
        << QStringList { "X-Plane/Resources/plugins/Mine/lib/real.so=so", "X-Plane/Resources/plugins/Mine/lib/link.so=so" };
}

void TestOwnership::installAndUninstall()
{
    QFETCH(QString, extract);
    QFETCH(QStringList, remove);
    QFETCH(QStringList, preserve);
    QFETCH(QStringList, before);
    QFETCH(QStringList, content);
    QFETCH(QString, refusal);
    QFETCH(QStringList, after);
    lay(m_home->path(), before);
    const auto version = KOVTest::makeVersion("1.0", extract, preserve, {}, remove);
    auto package = QSharedPointer<Package>(new Package);
    package->setVersions({ version });
    const QString path = archive(content);
    QVERIFY(!path.isEmpty());

    KOVTest::LogCapture log;
    const InstallOutcome outcome = PackageInstaller::install(package, "1.0", path, context(version, {}));
    QCOMPARE(outcome.reason, refusal);
    QCOMPARE(outcome.done, refusal.isEmpty());
    if (!refusal.isEmpty()) {
        QVERIFY(log.contains("Installation failed : "));
        // Nothing was saved for it either.
        QVERIFY(QDir(m_home->path() + "/preserve").isEmpty());
    }
    for (const QString &file : after)
        QCOMPARE(KOVTest::readFile(m_home->path() + "/" + file.section('=', 0, 0)), file.section('=', 1).toUtf8());
    // Nothing of the work is left beside the files.
    QDirIterator staging(xp(), { ".KOV_*" }, QDir::AllEntries | QDir::Hidden, QDirIterator::Subdirectories);
    QVERIFY(!staging.hasNext());
}

void TestOwnership::backupGivesBackWhatItReplaced()
{
    // "backup": the whole plugins folder. Only the file the archive overwrites is saved and given back.
    lay(xp(), { "Resources/plugins/Vendor/common.dll=vendor's 1", "Resources/plugins/Vendor/vendor.xpl=vendor 1" });
    const auto version = KOVTest::makeVersion("1.0", "Resources/plugins", {}, { "Resources/plugins" },
                                              { "Resources/plugins/Mine", "Resources/plugins/Vendor/common.dll" });
    auto package = QSharedPointer<Package>(new Package);
    package->setVersions({ version });
    const QString path = archive({ "Mine/mine.xpl=mine", "Vendor/common.dll=mine's" });
    const InstallOutcome installed = PackageInstaller::install(package, "1.0", path, context(version, {}));
    QVERIFY2(installed.done, qPrintable(installed.reason));
    QCOMPARE(KOVTest::readFile(xp("Resources/plugins/Vendor/common.dll")), QByteArray("mine's"));
    QDirIterator saved(m_home->path() + "/backup", QDir::Files, QDirIterator::Subdirectories);
    QStringList savedFiles;
    while (saved.hasNext())
        savedFiles << QDir(m_home->path() + "/backup").relativeFilePath(saved.next());
    QCOMPARE(savedFiles, QStringList { "Resources/plugins/Vendor/common.dll" });

    // Meanwhile: a plugin added, another vendor's file updated.
    lay(xp(), { "Resources/plugins/New/new.xpl=added since", "Resources/plugins/Vendor/vendor.xpl=vendor 2" });
    const InstallOutcome removed = PackageInstaller::removeInstalledFiles(context(version, own(installed)));
    QVERIFY2(removed.done, qPrintable(removed.reason));
    QVERIFY(!QFileInfo::exists(xp("Resources/plugins/Mine")));
    QCOMPARE(KOVTest::readFile(xp("Resources/plugins/Vendor/common.dll")), QByteArray("vendor's 1"));
    QCOMPARE(KOVTest::readFile(xp("Resources/plugins/Vendor/vendor.xpl")), QByteArray("vendor 2"));
    QCOMPARE(KOVTest::readFile(xp("Resources/plugins/New/new.xpl")), QByteArray("added since"));
}

void TestOwnership::uninstallThroughALink()
{
    // Installed while Evil was a folder of its own; then the user made it a link to a folder outside.
    lay(m_home->path(), { "sibling/data.txt=not X-Plane's" });
    const auto version = KOVTest::makeVersion("1.0", "Resources/plugins", {}, {},
                                              { "Resources/plugins/Mine", "Resources/plugins/Evil/data.txt" });
    auto package = QSharedPointer<Package>(new Package);
    package->setVersions({ version });
    const InstallOutcome installed = PackageInstaller::install(
        package, "1.0", archive({ "Mine/mine.xpl=mine", "Evil/data.txt=the package's" }), context(version, {}));
    QVERIFY2(installed.done, qPrintable(installed.reason));
    QVERIFY(QDir(xp("Resources/plugins/Evil")).removeRecursively());
    lay(xp(), { "Resources/plugins/Evil->../../../sibling" });
    // Its record names the file, but where the file really is now is not the package's.
    const InstallOutcome removed = PackageInstaller::removeInstalledFiles(context(version, own(installed)));
    QVERIFY(!removed.done);
    QCOMPARE(removed.reason, QStringLiteral("Resources/plugins/Evil/data.txt leads outside the X-Plane folder through a link."));
    QCOMPARE(KOVTest::readFile(m_home->path() + "/sibling/data.txt"), QByteArray("not X-Plane's"));
    QCOMPARE(KOVTest::readFile(xp("Resources/plugins/Mine/mine.xpl")), QByteArray("mine"));
}

QTEST_MAIN(TestOwnership)
#include "tst_ownership.moc"
