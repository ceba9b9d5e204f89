#include <QRegularExpression>
#include <QRandomGenerator>
#include <QtTest>

#include <sched.h>
#include <sys/mount.h>

#include "ui/packagewidget.h"
#include "uifixture.h"

using KOV::Models::Package;

namespace {

// Set by main(): the process runs in a mount namespace of its own, so its mounts touch nobody else.
bool s_mountsWork = false;

const QString toolFolder = QStringLiteral("Resources/plugins/Tool");
const QString settingsFile = toolFolder + QStringLiteral("/settings.ini");
const QString pluginFile = toolFolder + QStringLiteral("/tool.xpl");

/** A small tmpfs over a folder, for as long as it lives. */
class Mount
{
public:
    Mount(const QString &path, qint64 size)
        : m_path(path)
    {
        QDir().mkpath(path);
        const QByteArray options = "size=" + QByteArray::number(size);
        m_mounted
            = ::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~Mount()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
    }
    Q_DISABLE_COPY_MOVE(Mount)

    bool isMounted() const { return m_mounted; }
    bool setReadOnly(bool readOnly)
    {
        const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
        return ::mount(nullptr, QFile::encodeName(m_path).constData(), nullptr, flags, nullptr) == 0;
    }

private:
    QString m_path;
    bool m_mounted = false;
};

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(7);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

} // namespace

/**
 * A failed update on a full or read-only disk, or with a damaged archive, leaves the old version in place,
 * every user file where it was, the records equal to the disk, and says why.
 */
class TestDiskFaults final : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void failedUpdateKeepsOldVersion_data();
    void failedUpdateKeepsOldVersion();
    void readOnlyUninstallChangesNothing();

private:
    void serveVersion(KOVTest::UiFixture &fixture, const QString &version,
                      const QMap<QString, QByteArray> &files);
    void publishTool(KOVTest::UiFixture &fixture, const QMap<QString, QByteArray> &extraInTwo);
    bool installAndWait(KOVTest::UiFixture &fixture, const QString &version, Package::State until);
};

void TestDiskFaults::init()
{
    if (!s_mountsWork)
        QSKIP("small disks are tmpfs mounts, which need a mount namespace of our own (root)");
}

void TestDiskFaults::serveVersion(KOVTest::UiFixture &fixture, const QString &version,
                                  const QMap<QString, QByteArray> &files)
{
    const QString source = fixture.home.path() + "/src/tool-" + version;
    QDir(source).removeRecursively();
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        QVERIFY(KOVTest::writeFile(source + "/" + it.key(), it.value()));
    // Stored, not packed: the archive is as large as what it holds.
    QVERIFY(KOVTest::make7z(fixture.home.path() + "/served/tool-" + version + ".7z", source, { "-mx0" }));
}

void TestDiskFaults::publishTool(KOVTest::UiFixture &fixture, const QMap<QString, QByteArray> &extraInTwo)
{
    serveVersion(fixture, "1.0", { { "tool.xpl", "tool 1" }, { "settings.ini", "shipped 1" } });
    QMap<QString, QByteArray> two { { "tool.xpl", "tool 2" }, { "settings.ini", "shipped 2" } };
    for (auto it = extraInTwo.cbegin(); it != extraInTwo.cend(); ++it)
        two.insert(it.key(), it.value());
    serveVersion(fixture, "2.0", two);
    QJsonArray versions;
    for (const QString version : { "2.0", "1.0" }) {
        versions.append(
            QJsonObject { { "version", version },
                          { "link", fixture.server.url("/tool-" + version + ".7z") },
                          { "install", QJsonObject { { "extract", toolFolder },
                                                     { "preserve", QJsonArray { settingsFile } } } },
                          { "uninstall", QJsonObject { { "remove", QJsonArray { toolFolder } } } } });
    }
    fixture.catalogue.append(
        QJsonObject { { "id", 5 }, { "name", QJsonObject { { "en", "Tool" } } }, { "versions", versions } });
    fixture.publish();
}

bool TestDiskFaults::installAndWait(KOVTest::UiFixture &fixture, const QString &version, Package::State until)
{
    QString wanted = version;
    fixture.controller->installPackage(fixture.package(5), wanted);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 60000) {
        const Package::State state = fixture.package(5)->state();
        if (state == until && !fixture.controller->isInstalling())
            return true;
        if (state == Package::INSTALLED || state == Package::INSTALL_ERROR
            || state == Package::DOWNLOAD_ERROR) {
            if (!fixture.controller->isInstalling())
                return false;
        }
        QTest::qWait(10);
    }
    return false;
}

void TestDiskFaults::failedUpdateKeepsOldVersion_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("reason");

    QTest::newRow("preserve folder full")
        << "preserve full" << int(Package::INSTALL_ERROR) << "Not enough disk space";
    QTest::newRow("preserve folder read-only")
        << "preserve read-only" << int(Package::INSTALL_ERROR) << "Cannot write to";
    QTest::newRow("archive cut in half")
        << "archive cut" << int(Package::INSTALL_ERROR) << "The archive is damaged";
    QTest::newRow("cache folder full")
        << "cache full" << int(Package::DOWNLOAD_ERROR) << "Not enough disk space";
    QTest::newRow("plugins folder too small")
        << "plugins small" << int(Package::INSTALL_ERROR) << "Not enough disk space";
    // Many one-byte files: the listing's sum fits, the file system's blocks do not.
    QTest::newRow("plugins folder fills during extraction")
        << "plugins fill" << int(Package::INSTALL_ERROR) << "Not enough disk space";
    QTest::newRow("plugins folder read-only")
        << "plugins read-only" << int(Package::INSTALL_ERROR) << "Cannot write to";
}

void TestDiskFaults::failedUpdateKeepsOldVersion()
{
    QFETCH(QString, fault);
    QFETCH(int, state);
    QFETCH(QString, reason);

    KOVTest::UiFixture fixture;
    // The plugins folder is a disk of its own in some rows, as a user's second disk would be.
    QScopedPointer<Mount> plugins;
    if (fault.startsWith("plugins")) {
        plugins.reset(new Mount(fixture.xp("Resources/plugins"), 512 * 1024));
        QVERIFY(plugins->isMounted());
    }
    QMap<QString, QByteArray> extra;
    if (fault == "cache full" || fault == "plugins small")
        extra.insert("big.bin", randomBytes(1024 * 1024));
    if (fault == "plugins fill") {
        for (int i = 0; i < 400; ++i)
            extra.insert(QStringLiteral("data/%1.txt").arg(i), "x");
    }
    publishTool(fixture, extra);
    QVERIFY(installAndWait(fixture, "1.0", Package::INSTALLED));
    const QByteArray userSettings
        = fault == "preserve full" ? randomBytes(400 * 1024) : "the user's own settings";
    QVERIFY(KOVTest::writeFile(fixture.xp(settingsFile), userSettings));

    QScopedPointer<Mount> small;
    const QString archiveTwo = fixture.home.path() + "/served/tool-2.0.7z";
    if (fault.startsWith("preserve")) {
        small.reset(new Mount(fixture.home.path() + "/preserve", 64 * 1024));
        QVERIFY(small->isMounted());
        if (fault == "preserve read-only")
            QVERIFY(small->setReadOnly(true));
    } else if (fault == "cache full") {
        small.reset(new Mount(fixture.home.path() + "/cache", 256 * 1024));
        QVERIFY(small->isMounted());
    } else if (fault == "archive cut") {
        QFile archive(archiveTwo);
        QVERIFY(archive.resize(archive.size() / 2));
    } else if (fault == "plugins read-only") {
        QVERIFY(plugins->setReadOnly(true));
    }

    // The tile is on screen: its error box opens while the transfer or the task is still being handled.
    KOV::Ui::PackageWidget tile(fixture.controller, fixture.package(5));
    tile.show();
    KOVTest::ModalAnswerer answerer;
    KOVTest::LogCapture log;
    QVERIFY(installAndWait(fixture, QString(), Package::State(state)));
    const auto tool = fixture.package(5);
    QVERIFY2(tool->failureReason().startsWith("Version 2.0: " + reason), qPrintable(tool->failureReason()));
    QTRY_VERIFY(!answerer.seen().isEmpty());
    QVERIFY2(answerer.seen().first().contains("\n\nVersion 2.0: " + reason), qPrintable(answerer.seen().first()));
    QVERIFY(log.contains("Installation failed : ") || log.contains("Download Error - "));
    // Where the room is missing, and how much, when the program knew it beforehand.
    if (fault == "plugins small") {
        const QRegularExpression told("^Version 2\\.0: Not enough disk space in .*/Resources/plugins: "
                                      "[0-9.,]+ [KM]iB needed, [0-9.,]+ (bytes|KiB) free\\.$");
        QVERIFY2(told.match(tool->failureReason()).hasMatch(), qPrintable(tool->failureReason()));
    }

    // The old version works as it did, with the user's file, and the records say it is installed.
    QCOMPARE(KOVTest::readFile(fixture.xp(pluginFile)), QByteArray("tool 1"));
    QCOMPARE(KOVTest::readFile(fixture.xp(settingsFile)), userSettings);
    QCOMPARE(fixture.controller->databaseStatus(tool), int(Package::INSTALLED));
    QCOMPARE(fixture.controller->installedVersion(tool), QStringLiteral("1.0"));
    // Nothing half-done is left beside it.
    QCOMPARE(QDir(fixture.xp("Resources/plugins"))
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList { "Tool" });
    QCOMPARE(QDir(fixture.xp(toolFolder)).entryList(QDir::Files),
             QStringList({ "settings.ini", "tool.xpl" }));
    if (fault == "cache full") {
        // What arrived stays for a later resume, and is never taken for the archive.
        const qint64 partial = QFileInfo(KOVTest::cachedFile(fixture.home.path() + "/cache", fixture.server.url("/tool-2.0.7z"))).size();
        QVERIFY(partial > 0 && partial < QFileInfo(archiveTwo).size());
    }

    // Once the fault is gone, the same update goes through and the user's file survives it.
    if (fault == "plugins small" || fault == "plugins fill")
        return;
    if (fault == "archive cut")
        serveVersion(fixture, "2.0", { { "tool.xpl", "tool 2" }, { "settings.ini", "shipped 2" } });
    if (fault == "plugins read-only")
        QVERIFY(plugins->setReadOnly(false));
    small.reset();
    QVERIFY(installAndWait(fixture, QString(), Package::INSTALLED));
    QCOMPARE(KOVTest::readFile(fixture.xp(pluginFile)), QByteArray("tool 2"));
    QCOMPARE(KOVTest::readFile(fixture.xp(settingsFile)), userSettings);
    QCOMPARE(fixture.controller->installedVersion(tool), QStringLiteral("2.0"));
}

void TestDiskFaults::readOnlyUninstallChangesNothing()
{
    KOVTest::UiFixture fixture;
    Mount plugins(fixture.xp("Resources/plugins"), 512 * 1024);
    QVERIFY(plugins.isMounted());
    publishTool(fixture, {});
    QVERIFY(installAndWait(fixture, "1.0", Package::INSTALLED));
    QVERIFY(plugins.setReadOnly(true));

    QSignalSpy failed(fixture.controller.data(), &KOV::Controllers::PackageController::uninstallFailed);
    const auto tool = fixture.package(5);
    fixture.controller->uninstallPackage(tool);
    QVERIFY(failed.wait(30000));
    QCOMPARE(failed.first().at(1).toStringList(), QStringList { toolFolder });
    QVERIFY(tool->failureReason().startsWith("Version 1.0: Cannot write to"));
    QCOMPARE(tool->state(), Package::INSTALLED);
    QCOMPARE(fixture.controller->databaseStatus(tool), int(Package::INSTALLED));
    QCOMPARE(KOVTest::readFile(fixture.xp(pluginFile)), QByteArray("tool 1"));

    QVERIFY(plugins.setReadOnly(false));
    fixture.controller->uninstallPackage(tool);
    QTRY_COMPARE_WITH_TIMEOUT(tool->state(), Package::AVAILABLE, 30000);
    QVERIFY(!QFileInfo::exists(fixture.xp(toolFolder)));
    QCOMPARE(fixture.controller->databaseStatus(tool), int(Package::AVAILABLE));
}

int main(int argc, char **argv)
{
    // Before any thread starts: unshare() refuses a process with threads.
    s_mountsWork
        = ::unshare(CLONE_NEWNS) == 0 && ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    QApplication application(argc, argv);
    TestDiskFaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_diskfaults.moc"
