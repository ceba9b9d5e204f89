#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include "uifixture.h"

namespace {

const QString settingsFile = QStringLiteral("Resources/plugins/Tool/settings.ini");
const QString earthFile = QStringLiteral("Resources/default data/earth.dat");

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

} // namespace

/**
 * Kills the program with SIGKILL at random moments of an update, during the download and during
 * the installation, and checks what the next start finds: a readable database, partial archives
 * that continue to the exact bytes, and the user's and X-Plane's files somewhere, never nowhere.
 */
class TestInterrupted final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void killedAtEachStep_data();
    void killedAtEachStep();
    void killedAtRandomMoments();

private:
    int runWorker(const QString &version, int killAfterMs = -1, const QString &killAtStep = QString());
    void checkNothingLost(const QString &when);
    void checkResolved(const QString &when, const QStringList &versions);
    QString recordedVersion();

    QScopedPointer<KOVTest::UiFixture> m_fixture;
    QString m_catalogue;
    QByteArray m_userEdit;
};

int TestInterrupted::runWorker(const QString &version, int killAfterMs, const QString &killAtStep)
{
    QProcess worker;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", m_fixture->home.path() + "/config");
    environment.insert("XDG_DATA_HOME", m_fixture->home.path() + "/data");
    environment.insert("ASAN_OPTIONS", "detect_leaks=0");
    worker.setProcessEnvironment(environment);
    worker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments { m_catalogue, "5", version };
    if (!killAtStep.isEmpty())
        arguments << killAtStep;
    worker.start(QCoreApplication::applicationDirPath() + "/kov-crash-worker", arguments);
    worker.waitForStarted();
    QElapsedTimer timer;
    timer.start();
    // The server of the archives lives in this process: its events must go on meanwhile.
    while (worker.state() != QProcess::NotRunning) {
        if (killAfterMs >= 0 && timer.elapsed() >= killAfterMs) {
            worker.kill(); // SIGKILL
            worker.waitForFinished();
            return -9;
        }
        QTest::qWait(2);
    }
    if (worker.exitStatus() == QProcess::CrashExit)
        return -9;
    return worker.exitCode();
}

void TestInterrupted::checkNothingLost(const QString &when)
{
    const QString home = m_fixture->home.path();
    const bool userInPlace = KOVTest::readFile(m_fixture->xp(settingsFile)) == m_userEdit;
    const bool userSaved = KOVTest::readFile(home + "/preserve/" + settingsFile) == m_userEdit;
    QVERIFY2(userInPlace || userSaved, qPrintable("user file lost " + when));
    const bool earthInPlace = KOVTest::readFile(m_fixture->xp(earthFile)) == "X-Plane's earth";
    const bool earthSaved = KOVTest::readFile(home + "/backup/" + earthFile) == "X-Plane's earth";
    QVERIFY2(earthInPlace || earthSaved, qPrintable("X-Plane file lost " + when));

    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "inspect");
    db.setDatabaseName(m_fixture->home.dataPath() + "/packages.db");
    QVERIFY(db.open());
    QSqlQuery query("SELECT package_id, version, status FROM packages", db);
    QVERIFY2(query.isActive(), qPrintable(query.lastError().text()));
    while (query.next())
        QVERIFY(query.value(2).toInt() >= 0 && query.value(2).toInt() <= 9);
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("inspect");

    const QByteArray partial = KOVTest::readFile(KOVTest::cachedFile(home + "/cache", m_fixture->server.url("/tool-2.0.0.7z")));
    QVERIFY2(KOVTest::readFile(home + "/served/tool-2.0.0.7z").startsWith(partial),
             qPrintable("partial archive is not a prefix " + when));
}

void TestInterrupted::initTestCase()
{
    m_fixture.reset(new KOVTest::UiFixture);
    KOVTest::UiFixture &fixture = *m_fixture;
    const QString home = fixture.home.path();
    // Two versions that ship the user's settings file and overwrite an X-Plane file; version
    // 2 is large and in many files, so that both its download and its unpacking take a while.
    QJsonArray versions;
    for (const QString &version : { QStringLiteral("2.0.0"), QStringLiteral("1.0.0") }) {
        const QString source = home + "/src/" + version;
        KOVTest::writeFile(source + "/" + settingsFile, ("shipped " + version).toUtf8());
        KOVTest::writeFile(source + "/" + earthFile, ("earth of the tool " + version).toUtf8());
        KOVTest::writeFile(source + "/KOV_version.txt", ("Tool\nby the tests\n" + version + "\n").toUtf8());
        const int files = version == "2.0.0" ? 400 : 1;
        for (int i = 0; i < files; ++i)
            KOVTest::writeFile(source + QStringLiteral("/Resources/plugins/Tool/data/%1.bin").arg(i),
                               randomBytes(16 * 1024, quint32(i)));
        QVERIFY(KOVTest::make7z(home + "/served/tool-" + version + ".7z", source, { "-mx=1" }));
        versions.append(QJsonObject {
            { "version", version },
            { "link", fixture.server.url("/tool-" + version + ".7z") },
            { "install", QJsonObject { { "extract", "" },
                                       { "preserve", QJsonArray { settingsFile } },
                                       { "backup", QJsonArray { earthFile } } } },
            { "uninstall", QJsonObject { { "remove", QJsonArray { "Resources/plugins/Tool", earthFile,
                                                                  "KOV_version.txt" } } } } });
    }
    fixture.catalogue = QJsonArray { QJsonObject { { "id", 5 }, { "versions", versions } } };
    m_catalogue = home + "/packages.json";
    KOVTest::writeFile(m_catalogue, QJsonDocument(fixture.catalogue).toJson());
    KOVTest::HttpServer::Behaviour slow;
    slow.trickleBytes = 64 * 1024;
    slow.trickleIntervalMs = 5;
    fixture.server.setBehaviour("/tool-2.0.0.7z", slow);
    QVERIFY(KOVTest::writeFile(fixture.xp(earthFile), "X-Plane's earth"));
    fixture.settings->save();
    fixture.settings->sync();
    m_userEdit = "the user's own settings";
}

QString TestInterrupted::recordedVersion()
{
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "inspect");
    db.setDatabaseName(m_fixture->home.dataPath() + "/packages.db");
    QString recorded = "no database";
    if (db.open()) {
        QSqlQuery journal("SELECT COUNT(*) FROM journal", db);
        QSqlQuery row("SELECT status, version FROM packages WHERE package_id = 5", db);
        if (!journal.next() || journal.value(0).toInt() != 0)
            recorded = "journal rows left";
        else if (!row.next())
            recorded = "none";
        else if (row.value(0).toInt() == KOV::Models::Package::INSTALLED)
            recorded = row.value(1).toString();
        else if (row.value(0).toInt() == KOV::Models::Package::AVAILABLE)
            recorded = "none";
        else
            recorded = "status " + row.value(0).toString();
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("inspect");
    return recorded;
}

// After a restart: every saved file back where it belongs, no half-made change left, and the
// recorded state is the one on disk (one of `versions`, "none" for not installed).
void TestInterrupted::checkResolved(const QString &when, const QStringList &versions)
{
    const QString home = m_fixture->home.path();
    const QString recorded = recordedVersion();
    QVERIFY2(versions.contains(recorded), qPrintable(recorded + " recorded " + when));
    const QByteArray versionFile = KOVTest::readFile(m_fixture->xp("KOV_version.txt"));
    if (recorded == "none") {
        QVERIFY2(versionFile.isEmpty(), qPrintable("a version file is left " + when));
        QCOMPARE(KOVTest::readFile(m_fixture->xp(earthFile)), QByteArray("X-Plane's earth"));
        QVERIFY2(!QFileInfo::exists(home + "/backup/" + earthFile), qPrintable("backup left " + when));
    } else {
        QCOMPARE(versionFile, ("Tool\nby the tests\n" + recorded + "\n").toUtf8());
        QCOMPARE(KOVTest::readFile(m_fixture->xp(earthFile)), ("earth of the tool " + recorded).toUtf8());
        QCOMPARE(KOVTest::readFile(home + "/backup/" + earthFile), QByteArray("X-Plane's earth"));
        QCOMPARE(KOVTest::readFile(m_fixture->xp(settingsFile)), m_userEdit);
    }
    QVERIFY2(!QFileInfo::exists(home + "/preserve/" + settingsFile),
             qPrintable("preserved copy left " + when));
    QDirIterator files(m_fixture->xp(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString name = QFileInfo(files.next()).fileName();
        QVERIFY2(!name.startsWith(".KOV_"), qPrintable(name + " left " + when));
    }
    QVERIFY2(QDir(m_fixture->home.dataPath()).entryList({ "transaction-*" }).isEmpty(),
             qPrintable("transaction log left " + when));
}

void TestInterrupted::killedAtEachStep_data()
{
    QTest::addColumn<QString>("installed"); // before the change: "none" or a version
    QTest::addColumn<QString>("change"); // a version to install, or "uninstall"
    QTest::addColumn<QString>("step");
    QTest::addColumn<bool>("final");
    for (const char *step : { "starting", "saving", "unpacking", "placing", "cleaning" }) {
        const bool final = QByteArray(step) == "cleaning";
        QTest::addRow("install, %s", step) << "none"
                                           << "2.0.0" << step << final;
        QTest::addRow("update, %s", step) << "1.0.0"
                                          << "2.0.0" << step << final;
        QTest::addRow("downgrade, %s", step) << "2.0.0"
                                             << "1.0.0" << step << final;
    }
    // Inside the swap, at a file step: the old files going aside, the new ones coming in, the user's
    // file going back (an update has 8 steps, a first install at least 4, an uninstallation 4).
    for (const char *step : { "placing:0", "placing:1", "placing:2", "placing:3" })
        QTest::addRow("install, %s", step) << "none"
                                           << "2.0.0" << step << false;
    for (const char *step :
         { "placing:0", "placing:2", "placing:3", "placing:5", "placing:6", "placing:7" }) {
        QTest::addRow("update, %s", step) << "1.0.0"
                                          << "2.0.0" << step << false;
        QTest::addRow("downgrade, %s", step) << "2.0.0"
                                             << "1.0.0" << step << false;
    }
    for (const char *step : { "starting", "removing", "removing:0", "removing:1", "removing:3", "cleaning" })
        QTest::addRow("uninstall, %s", step) << "1.0.0"
                                             << "uninstall" << step << (QByteArray(step) == "cleaning");
}

void TestInterrupted::killedAtEachStep()
{
    QFETCH(QString, installed);
    QFETCH(QString, change);
    QFETCH(QString, step);
    QFETCH(bool, final);
    // The state before: what is asked for, with the user's own settings file in place.
    if (recordedVersion() != "none")
        QCOMPARE(runWorker("uninstall"), 0);
    if (installed != "none")
        QCOMPARE(runWorker(installed), 0);
    QVERIFY(KOVTest::writeFile(m_fixture->xp(settingsFile), m_userEdit));
    QCOMPARE(recordedVersion(), installed);

    QCOMPARE(runWorker(change, -1, step), -9);
    QCOMPARE(runWorker("start"), 0);
    const QString after = final ? (change == "uninstall" ? QString("none") : change) : installed;
    checkResolved("after a kill at " + step, { after });
    if (change == "uninstall" && final)
        QVERIFY(!QFileInfo::exists(m_fixture->xp(settingsFile)));
    else
        QCOMPARE(KOVTest::readFile(m_fixture->xp(settingsFile)), m_userEdit);

    // And the next try of the same change goes through.
    if (change != "uninstall" || !final)
        QCOMPARE(runWorker(change), 0);
    checkResolved("after the next try", { change == "uninstall" ? QString("none") : change });
}

void TestInterrupted::killedAtRandomMoments()
{
    KOVTest::UiFixture &fixture = *m_fixture;
    const QString home = fixture.home.path();
    // The base every round starts from: version 1 installed and its settings edited by the user.
    QCOMPARE(runWorker("1.0.0"), 0);
    QVERIFY(KOVTest::writeFile(fixture.xp(settingsFile), m_userEdit));

    // How long an update takes when nothing goes wrong, to spread the kills over it.
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(runWorker("2.0.0"), 0);
    const int duration = int(timer.elapsed());
    QCOMPARE(KOVTest::readFile(fixture.xp(settingsFile)), m_userEdit);
    QCOMPARE(runWorker("1.0.0"), 0);

    QRandomGenerator random(20261209);
    const int rounds = qMax(20, qEnvironmentVariableIntValue("KOV_KILL_ROUNDS"));
    int resumed = 0;
    int duringInstallation = 0;
    const qint64 archiveSize = QFileInfo(home + "/served/tool-2.0.0.7z").size();
    int kills = 0;
    for (int round = 0; kills < rounds && round < rounds * 3; ++round) {
        const int killAt = 30 + random.bounded(qMax(1, duration * 9 / 10));
        fixture.server.clearRequests();
        const int result = runWorker("2.0.0", killAt);
        // Now and then the update is done before the moment chosen; that round kills nothing.
        QVERIFY(result == -9 || result == 0);
        if (result == 0) {
            QCOMPARE(runWorker("1.0.0"), 0);
            continue;
        }
        ++kills;
        const QString when
            = QStringLiteral("after a kill at %1 ms of %2 (round %3)").arg(killAt).arg(duration).arg(round);
        checkNothingLost(when);
        const qint64 partial = QFileInfo(KOVTest::cachedFile(home + "/cache", m_fixture->server.url("/tool-2.0.0.7z"))).size();
        if (partial == archiveSize)
            ++duringInstallation;
        // The next start resolves the change before anything else, wherever it was cut short; only a
        // partial archive says for sure that the files were not touched yet.
        QCOMPARE(runWorker("start"), 0);
        const bool downloading = partial > 0 && partial < archiveSize;
        checkResolved(when, downloading ? QStringList { "1.0.0" } : QStringList { "1.0.0", "2.0.0" });

        // The next start finishes the update, continuing what was downloaded.
        fixture.server.clearRequests();
        QVERIFY2(runWorker("2.0.0") == 0, qPrintable(when));
        checkNothingLost(when + ", then the next start");
        if (partial > 0
            && fixture.server.requestLines().contains(
                QStringLiteral("GET /tool-2.0.0.7z bytes=%1-").arg(partial)))
            ++resumed;
        QCOMPARE(KOVTest::readFile(fixture.xp(settingsFile)), m_userEdit);
        QCOMPARE(KOVTest::readFile(fixture.xp("Resources/plugins/Tool/data/399.bin")),
                 randomBytes(16 * 1024, 399));
        QCOMPARE(KOVTest::readFile(home + "/backup/" + earthFile), QByteArray("X-Plane's earth"));
        QCOMPARE(runWorker("1.0.0"), 0);
    }
    qInfo(
        "%d kills survived: %d during the installation, %d resumed a partial archive; an update takes %d ms",
        kills, duringInstallation, resumed, duration);
    QCOMPARE(kills, rounds);
    QVERIFY(resumed > 0);
    QVERIFY(duringInstallation > 0);
}

QTEST_MAIN(TestInterrupted)
#include "tst_interrupted.moc"
