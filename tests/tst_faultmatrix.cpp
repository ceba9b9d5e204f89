#include <QtTest>

#include <QRandomGenerator>

#include "uifixture.h"

using KOV::Models::Package;
using KOVTest::HttpServer;

namespace {

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

bool waitSettled(KOVTest::UiFixture &fixture, int id)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 60000) {
        const Package::State state = fixture.package(id)->state();
        if ((state == Package::INSTALLED || state == Package::INSTALL_ERROR || state == Package::DOWNLOAD_ERROR
             || state == Package::DEPENDENCY_ERROR)
            && !fixture.controller->isInstalling() && fixture.downloads->find(fixture.package(id)->versions().first()->link).isNull())
            return true;
        QTest::qWait(10);
    }
    return false;
}

} // namespace

/** Archive downloads against a misbehaving server, and archives that try to escape. */
class TestFaultMatrix final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { KOV::Models::Package::registerMetaTypes(); }
    void serverFaults_data();
    void serverFaults();
    void hostileArchives_data();
    void hostileArchives();
    void missingSevenZip();
};

void TestFaultMatrix::serverFaults_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("installs");
    // 0 200 to a ranged request, 1 206 from elsewhere, 2 416, 3 error page, 4 dropped mid-body,
    // 5 redirect, 6 redirect loop, 7 HEAD 405, 8 HEAD without length, 9 slow trickle
    QTest::newRow("200 to a ranged request") << 0 << true;
    QTest::newRow("206 that does not continue") << 1 << false;
    QTest::newRow("416") << 2 << false;
    QTest::newRow("error status with HTML") << 3 << false;
    QTest::newRow("connection dropped mid-body") << 4 << false;
    QTest::newRow("redirect") << 5 << true;
    QTest::newRow("redirect loop") << 6 << false;
    // Without HEAD the GET decides: the partial file is continued against the same file.
    QTest::newRow("HEAD answered 405") << 7 << true;
    QTest::newRow("HEAD without Content-Length") << 8 << true;
    QTest::newRow("slow trickle") << 9 << true;
}

void TestFaultMatrix::serverFaults()
{
    QFETCH(int, fault);
    QFETCH(bool, installs);
    KOVTest::UiFixture fixture;
    const QByteArray content = randomBytes(300 * 1024, 42);
    fixture.addPackage(5, "Five", { "1.0" });
    const QString source = fixture.home.path() + "/src/big";
    KOVTest::writeFile(source + "/big.bin", content);
    const QString served = fixture.home.path() + "/served/p5-1.0.7z";
    QVERIFY(KOVTest::make7z(served, source, { "-mx=0" }));
    QDir().mkpath(fixture.home.path() + "/served/real");
    QVERIFY(QFile::copy(served, fixture.home.path() + "/served/real/p5-1.0.7z"));
    const QByteArray remote = KOVTest::readFile(served);
    fixture.publish();
    const auto package = fixture.package(5);
    const QString cache = KOVTest::cachedFile(fixture.home.path() + "/cache", fixture.server.url("/p5-1.0.7z"));

    // A first attempt breaks off and leaves a partial archive.
    HttpServer::Behaviour cut;
    cut.dropAfter = 100 * 1000;
    fixture.server.setBehaviour("/p5-1.0.7z", cut);
    QString version;
    fixture.controller->installPackage(package, version);
    QVERIFY(waitSettled(fixture, 5));
    QCOMPARE(package->state(), Package::DOWNLOAD_ERROR);
    const QByteArray partial = KOVTest::readFile(cache);
    QVERIFY(!partial.isEmpty() && remote.startsWith(partial));

    HttpServer::Behaviour behaviour;
    switch (fault) {
    case 0: behaviour.ignoreRange = true; break;
    case 1: behaviour.rangeStartShift = 1000; break;
    case 2: behaviour.rangeStatus = 416; break;
    case 3: behaviour.errorStatus = 500; break;
    case 4: behaviour.dropAfter = 50 * 1000; break;
    case 5: behaviour.redirectTo = "/real/p5-1.0.7z"; break;
    case 6: behaviour.redirectTo = "/p5-1.0.7z"; break;
    case 7: behaviour.headStatus = 405; break;
    case 8: behaviour.omitContentLength = true; break;
    default:
        behaviour.trickleBytes = 8 * 1024;
        behaviour.trickleIntervalMs = 2;
        break;
    }
    fixture.server.setBehaviour("/p5-1.0.7z", behaviour);
    version.clear();
    fixture.controller->installPackage(package, version);
    QVERIFY(waitSettled(fixture, 5));
    const QString installedFile = fixture.xp("Resources/plugins/P5/big.bin");
    if (installs) {
        QCOMPARE(package->state(), Package::INSTALLED);
        QCOMPARE(KOVTest::readFile(installedFile), content);
    } else {
        // Never a broken archive installed; what is left can still be continued.
        QCOMPARE(package->state(), Package::DOWNLOAD_ERROR);
        QVERIFY(!QFileInfo::exists(installedFile));
        QVERIFY(remote.startsWith(KOVTest::readFile(cache)));
        QCOMPARE(fixture.controller->databaseStatus(package), int(Package::DOWNLOAD_ERROR));
    }

    // The server mends its ways: the next attempt ends with the exact archive installed.
    fixture.server.clearBehaviours();
    if (!installs) {
        version.clear();
        fixture.controller->installPackage(package, version);
        QVERIFY(waitSettled(fixture, 5));
        QCOMPARE(package->state(), Package::INSTALLED);
        QCOMPARE(KOVTest::readFile(installedFile), content);
    }
    QVERIFY(!QFileInfo::exists(cache));
}

void TestFaultMatrix::hostileArchives_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("../ entry") << 0;
    QTest::newRow("absolute entry") << 1;
    QTest::newRow("link out, then a file through it") << 2;
    QTest::newRow("encrypted") << 3;
    QTest::newRow("truncated") << 4;
}

void TestFaultMatrix::hostileArchives()
{
    QFETCH(int, kind);
    KOVTest::UiFixture fixture;
    fixture.addPackage(5, "Five", { "1.0" });
    const QString work = fixture.home.path() + "/hostile";
    const QString outside = fixture.home.path() + "/outside";
    QDir().mkpath(outside);
    const QString archive = fixture.home.path() + "/served/p5-1.0.7z";
    QFile::remove(archive);
    QProcess sevenZip;
    auto run = [&](const QString &folder, const QStringList &arguments) {
        sevenZip.setWorkingDirectory(folder);
        sevenZip.start("7z", arguments);
        return sevenZip.waitForFinished(30000) && sevenZip.exitCode() == 0;
    };
    KOVTest::writeFile(work + "/inner/ok.txt", "ok");
    KOVTest::writeFile(work + "/evil.txt", "evil");
    switch (kind) {
    case 0:
        QVERIFY(run(work + "/inner", { "a", "-bd", "-spf", archive, "../evil.txt", "ok.txt" }));
        break;
    case 1:
        QVERIFY(run(work, { "a", "-bd", "-spf", archive, outside + "/../hostile/evil.txt", "inner/ok.txt" }));
        break;
    case 2:
        QDir().mkpath(work + "/links");
        QVERIFY(QFile::link("../../../../../outside", work + "/links/escape"));
        KOVTest::writeFile(work + "/through/escape/evil.txt", "written through the link");
        QVERIFY(run(work + "/links", { "a", "-bd", "-snl", archive, "escape" }));
        QVERIFY(run(work + "/through", { "a", "-bd", archive, "escape/evil.txt" }));
        break;
    case 3:
        QVERIFY(run(work + "/inner", { "a", "-bd", "-psecret", archive, "ok.txt" }));
        break;
    default: {
        KOVTest::writeFile(work + "/inner/big.bin", randomBytes(200 * 1024, 3));
        QVERIFY(run(work + "/inner", { "a", "-bd", "-mx=0", archive, "." }));
        QFile file(archive);
        QVERIFY(file.resize(file.size() / 2));
        break;
    }
    }
    fixture.publish();
    const auto package = fixture.package(5);
    QString version;
    QElapsedTimer timer;
    timer.start();
    fixture.controller->installPackage(package, version);
    QVERIFY(waitSettled(fixture, 5));
    QVERIFY(timer.elapsed() < 30000);
    QCOMPARE(package->state(), Package::INSTALL_ERROR);
    QVERIFY(QDir(outside).isEmpty());
    QVERIFY(!QFileInfo::exists(fixture.xp("evil.txt")));
    QVERIFY(!QFileInfo::exists(fixture.xp("Resources/plugins/evil.txt")));
    QVERIFY(!QFileInfo::exists(fixture.xp("Resources/plugins/P5/evil.txt")));
    QCOMPARE(fixture.controller->databaseStatus(package), int(Package::INSTALL_ERROR));
}

void TestFaultMatrix::missingSevenZip()
{
    // 7-Zip is hidden from the controller's process only, in a mount namespace of its own.
    QProcess probe;
    probe.start("unshare", { "-m", "--propagation", "private", "true" });
    if (!probe.waitForFinished(10000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
        QSKIP("hiding /usr/bin/7z needs a mount namespace (root)");

    KOVTest::UiFixture fixture;
    fixture.addPackage(5, "Five", { "1.0" });
    fixture.publish();
    const QString catalogue = fixture.home.path() + "/packages.json";
    fixture.settings->save();
    fixture.settings->sync();

    QProcess worker;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", fixture.home.path() + "/config");
    environment.insert("XDG_DATA_HOME", fixture.home.path() + "/data");
    environment.insert("ASAN_OPTIONS", "detect_leaks=0");
    worker.setProcessEnvironment(environment);
    worker.start("unshare", { "-m", "--propagation", "private", "/bin/sh", "-c",
                              "mount -t tmpfs tmpfs /usr/bin && exec \"$0\" \"$@\"",
                              QCoreApplication::applicationDirPath() + "/kov-crash-worker", catalogue, "5", "1.0" });
    QElapsedTimer timer;
    timer.start();
    while (worker.state() != QProcess::NotRunning && timer.elapsed() < 30000)
        QTest::qWait(5);
    QCOMPARE(worker.state(), QProcess::NotRunning);
    QCOMPARE(worker.exitCode(), 1); // INSTALL_ERROR
    QCOMPARE(fixture.controller->databaseStatus(fixture.package(5)), int(Package::INSTALL_ERROR));
    QVERIFY(!QFileInfo::exists(fixture.xp("Resources/plugins/P5/file.txt")));
}

QTEST_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
