#include <QNetworkAccessManager>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include "app/settings.h"
#include "httpserver.h"
#include "nginxserver.h"
#include "managers/downloadmanager.h"
#include "models/download.h"
#include "testsupport.h"

using KOV::Managers::DownloadManager;
using KOV::Models::Download;
using KOVTest::HttpServer;

namespace {

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

// Everything a download tells its listeners, in order.
class Recorder final : public QObject
{
public:
    explicit Recorder(Download *download)
    {
        connect(download, QOverload<qlonglong>::of(&Download::fileSize), this,
                [this](qlonglong size) { events << QStringLiteral("size:%1").arg(size); });
        connect(download, QOverload<qlonglong>::of(&Download::currentSize), this,
                [this](qlonglong size) { current << size; });
        connect(download, &Download::error, this, [this](const QString &text) { events << "error:" + text; });
        connect(download, &Download::processChanged, this, [this](Download::Process process) {
            events << "process:"
                          + QString::fromLatin1(QMetaEnum::fromType<Download::Process>().valueToKey(process));
        });
        connect(download, &Download::finished, this, [this](const QString &path) {
            events << QStringLiteral("finished");
            finishedPath = path;
            contentAtFinish = KOVTest::readFile(path);
            ++finishedCount;
        });
    }

    QStringList events;
    QVector<qlonglong> current;
    QString finishedPath;
    QByteArray contentAtFinish;
    int finishedCount = 0;
};

} // namespace

class TestDownloadManager final : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void fileNameRule_data();
    void fileNameRule();
    void freshDownload();
    void resume_data();
    void resume();
    void completeFileNeedsNoTransfer();
    void largerFileIsFetchedWhole();
    void errorStatus_data();
    void errorStatus();
    void droppedConnectionResumesLater();
    void stalledTransferFailsAndResumes();
    void cancelKeepsThePartialFile();
    void notResumableStartsAfresh();
    void addingTwiceStartsOnce();
    void notifyState();
    void sameNameOwnFiles_data();
    void sameNameOwnFiles();
    void olderPartialFileIsContinued();
    void partialOfAnotherUrlIsNotContinued();
    void followsRedirect();
    void databaseCreatedAndRemoved();
    void replacedOnServer_data();
    void replacedOnServer();
    void realServerReplacedFile_data();
    void realServerReplacedFile();
    void checksum_data();
    void checksum();

private:
    QSharedPointer<Download> start(const QString &path, bool resumable);
    bool waitFinished(Recorder &recorder, int count = 1);
    /** A whole earlier run of `path`: it leaves the file and records this URL as its writer. */
    bool fetchOnce(const QString &path);
    /** The cache file of the server's `path`. */
    QString cacheFile(const QString &path) const { return KOVTest::cachedFile(m_cache, m_server->url(path)); }

    QScopedPointer<KOVTest::TemporaryHome> m_home;
    QString m_cache;
    QSharedPointer<KOV::Settings> m_settings;
    QSharedPointer<DownloadManager> m_manager;
    QScopedPointer<HttpServer> m_server;
    QByteArray m_remote;
};

void TestDownloadManager::init()
{
    m_home.reset(new KOVTest::TemporaryHome);
    QCoreApplication::setOrganizationName(QStringLiteral("Tarrowmere"));
    QCoreApplication::setApplicationName(QStringLiteral("KOV Vazuv"));
    m_cache = m_home->path() + QStringLiteral("/cache");
    m_settings = QSharedPointer<KOV::Settings>::create();
    m_settings->edited().cache.value = m_cache + QLatin1Char('/');
    m_settings->commit();
    m_manager = QSharedPointer<DownloadManager>::create(m_settings,
                                                        QSharedPointer<QNetworkAccessManager>::create());
    m_server.reset(new HttpServer);
    QVERIFY(m_server->listen());
    m_remote = randomBytes(3 * 1024 * 1024, 1);
    m_server->addFile(QStringLiteral("/files/archive.7z"), m_remote);
}

void TestDownloadManager::cleanup()
{
    m_manager.reset();
    m_server.reset();
    m_settings.reset();
    m_home.reset();
}

QSharedPointer<Download> TestDownloadManager::start(const QString &path, bool resumable)
{
    return QSharedPointer<Download>::create(m_server->url(path), resumable);
}

bool TestDownloadManager::fetchOnce(const QString &path)
{
    auto first = start(path, true);
    Recorder recorder(first.data());
    m_manager->add(first);
    return waitFinished(recorder);
}

bool TestDownloadManager::waitFinished(Recorder &recorder, int count)
{
    QElapsedTimer timer;
    timer.start();
    while (recorder.finishedCount < count && timer.elapsed() < 20000)
        QTest::qWait(10);
    return recorder.finishedCount >= count;
}

void TestDownloadManager::fileNameRule_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("readable");
    QTest::newRow("plain") << "http://host/a/b/archive.7z"
                           << "archive.7z";
    QTest::newRow("ends in a slash") << "http://host/a/b/"
                                     << "download";
    QTest::newRow("no path") << "http://host"
                             << "download";
    QTest::newRow("encoded blank") << "http://host/x/my%20plugin.7z"
                                   << "my_plugin.7z";
    QTest::newRow("query left out of the name") << "http://host/get/file.zip?id=4"
                                                << "file.zip";
    QTest::newRow("download endpoint") << "http://host/packages/12/download"
                                       << "download";
    QTest::newRow("two dots") << "http://host/a/%2e%2e"
                              << "download";
    QTest::newRow("one dot") << "http://host/a/."
                             << "download";
    QTest::newRow("hidden name") << "http://host/a/.profile"
                                 << "profile";
    QTest::newRow("encoded separators") << "http://host/a/..%2f..%2fetc%5cpasswd"
                                        << "etc_passwd";
    QTest::newRow("not ASCII") << "http://host/z%C3%BCrich.7z"
                               << "z_rich.7z";
}

void TestDownloadManager::fileNameRule()
{
    QFETCH(QString, url);
    QFETCH(QString, readable);
    Download download(url, true);
    const QString name = download.fileName();
    QVERIFY2(QRegularExpression("^[0-9a-f]{12}-").match(name).hasMatch(), qPrintable(name));
    QCOMPARE(name.mid(13), readable);
    QCOMPARE(download.path(), QString());
    m_manager->add(QSharedPointer<Download>::create(url, false), true);
    QCOMPARE(m_manager->find(url)->path(), m_cache + "//" + name);
    // Any other link gets another file, also one that differs only after the last slash's name.
    for (const QString &other : { url + "x", url + "?v=2", QString(url).replace("host", "mirror") })
        QVERIFY(Download::fileNameForUrl(QUrl(other)) != name);
}

void TestDownloadManager::freshDownload()
{
    auto download = start(QStringLiteral("/files/archive.7z"), true);
    Recorder recorder(download.data());
    m_manager->add(download);
    QVERIFY(waitFinished(recorder));

    QCOMPARE(KOVTest::readFile(cacheFile("/files/archive.7z")), m_remote);
    QCOMPARE(m_server->requestLines(), QStringList({ "HEAD /files/archive.7z", "GET /files/archive.7z" }));
    QCOMPARE(recorder.events.first(), QStringLiteral("process:CHECKING"));
    QCOMPARE(recorder.events.at(1), QStringLiteral("size:%1").arg(m_remote.size()));
    QCOMPARE(recorder.events.at(2), QStringLiteral("process:DOWNLOADING"));
    QCOMPARE(recorder.events.mid(recorder.events.size() - 2),
             QStringList({ "process:FINISHED", "finished" }));
    QVERIFY(!recorder.events.join(';').contains("error"));
    QCOMPARE(recorder.current.last(), qlonglong(m_remote.size()));
    QVERIFY(m_manager->find(m_server->url("/files/archive.7z")).isNull());
}

void TestDownloadManager::resume_data()
{
    QTest::addColumn<int>("quirk");
    QTest::addColumn<QString>("expectedGet");
    QTest::addColumn<bool>("expectError");
    QTest::addColumn<bool>("endsWithRemote");
    // 0 none, 1 ignores Range, 2 HEAD without Content-Length, 3 HEAD without Last-Modified, 4 206 from
    // elsewhere
    QTest::newRow("continues with Range") << 0 << "GET /files/archive.7z bytes=1048576-" << false << true;
    QTest::newRow("200 to a ranged request replaces")
        << 1 << "GET /files/archive.7z bytes=1048576-" << false << true;
    QTest::newRow("no length: whole file") << 2 << "GET /files/archive.7z" << false << true;
    QTest::newRow("no date: whole file") << 3 << "GET /files/archive.7z" << false << true;
    QTest::newRow("206 that does not continue")
        << 4 << "GET /files/archive.7z bytes=1048576-" << true << false;
}

void TestDownloadManager::resume()
{
    QFETCH(int, quirk);
    QFETCH(QString, expectedGet);
    QFETCH(bool, expectError);
    QFETCH(bool, endsWithRemote);

    // A partial file left by an earlier run of the same URL.
    const QByteArray partial = m_remote.left(1024 * 1024);
    QVERIFY(fetchOnce(QStringLiteral("/files/archive.7z")));
    QFile file(cacheFile("/files/archive.7z"));
    QVERIFY(file.resize(partial.size()));
    m_server->clearRequests();

    HttpServer::Behaviour behaviour;
    behaviour.ignoreRange = quirk == 1;
    behaviour.omitContentLength = quirk == 2;
    behaviour.omitLastModified = quirk == 3;
    behaviour.omitETag = quirk == 3;
    behaviour.rangeStartShift = quirk == 4 ? 4096 : 0;
    m_server->setBehaviour(QStringLiteral("/files/archive.7z"), behaviour);

    auto download = start(QStringLiteral("/files/archive.7z"), true);
    Recorder recorder(download.data());
    m_manager->add(download);
    QVERIFY(waitFinished(recorder));

    QCOMPARE(m_server->requestLines().value(1), expectedGet);
    QCOMPARE(recorder.events.contains(QStringLiteral("error:Server Error")), expectError);
    QCOMPARE(KOVTest::readFile(cacheFile("/files/archive.7z")), endsWithRemote ? m_remote : partial);
    if (quirk == 0) {
        QVERIFY(!recorder.current.isEmpty());
        QVERIFY(recorder.current.first() > partial.size());
        QCOMPARE(download->fileSize(), qlonglong(m_remote.size()));
    }
}

void TestDownloadManager::completeFileNeedsNoTransfer()
{
    QVERIFY(KOVTest::writeFile(cacheFile("/files/archive.7z"), QByteArray(10, 'x')));
    QVERIFY(fetchOnce(QStringLiteral("/files/archive.7z")));
    m_server->clearRequests();

    auto download = start(QStringLiteral("/files/archive.7z"), true);
    Recorder recorder(download.data());
    m_manager->add(download);
    QVERIFY(waitFinished(recorder));

    QCOMPARE(m_server->requestLines(), QStringList({ "HEAD /files/archive.7z" }));
    QCOMPARE(recorder.events,
             QStringList({ "process:CHECKING", QStringLiteral("size:%1").arg(m_remote.size()),
                           "process:FINISHED", "finished" }));
    QCOMPARE(recorder.finishedPath, m_cache + "//" + cacheFile("/files/archive.7z").section('/', -1));
    // Gone from the list at once: a later install creates a new download.
    QVERIFY(m_manager->find(m_server->url("/files/archive.7z")).isNull());
}

void TestDownloadManager::largerFileIsFetchedWhole()
{
    QVERIFY(fetchOnce(QStringLiteral("/files/archive.7z")));
    QFile file(cacheFile("/files/archive.7z"));
    QVERIFY(file.open(QIODevice::Append));
    file.write("trailing junk");
    file.close();
    m_server->clearRequests();

    auto download = start(QStringLiteral("/files/archive.7z"), true);
    Recorder recorder(download.data());
    m_manager->add(download);
    QVERIFY(waitFinished(recorder));
    QCOMPARE(m_server->requestLines(), QStringList({ "HEAD /files/archive.7z", "GET /files/archive.7z" }));
    QCOMPARE(KOVTest::readFile(cacheFile("/files/archive.7z")), m_remote);
}

void TestDownloadManager::errorStatus_data()
{
    QTest::addColumn<bool>("resumable");
    QTest::addColumn<QByteArray>("before");
    QTest::newRow("archive, no file before") << true << QByteArray();
    QTest::newRow("archive, partial file before") << true << QByteArray("partial");
    QTest::newRow("catalogue, no file before") << false << QByteArray();
}

void TestDownloadManager::errorStatus()
{
    QFETCH(bool, resumable);
    QFETCH(QByteArray, before);
    const QString path = QStringLiteral("/files/archive.7z");
    if (!before.isEmpty()) {
        // Written by this URL in an earlier run.
        QVERIFY(fetchOnce(path));
        QVERIFY(KOVTest::writeFile(cacheFile("/files/archive.7z"), before));
    }
    m_server->clearRequests();
    HttpServer::Behaviour behaviour;
    behaviour.errorStatus = 503;
    m_server->setBehaviour(path, behaviour);

    KOVTest::LogCapture log;
    auto download = start(path, resumable);
    Recorder recorder(download.data());
    m_manager->add(download);
    QVERIFY(waitFinished(recorder));

    QVERIFY2(recorder.events.mid(recorder.events.size() - 3)
                 == QStringList({ "error:Server Error", "process:FINISHED", "finished" }),
             qPrintable(recorder.events.join(QLatin1Char(';'))));
    QCOMPARE(QFileInfo::exists(cacheFile("/files/archive.7z")), !before.isEmpty());
    if (!before.isEmpty())
        QCOMPARE(KOVTest::readFile(cacheFile("/files/archive.7z")), before);
    QVERIFY(log.contains(QStringLiteral("Network Error : ")));
    // A failed HEAD ends the download: no GET follows it in the background.
    QCOMPARE(log.contains(QStringLiteral("Download Error -  \"%1\"").arg(m_server->url(path))), !resumable);
    QCOMPARE(log.contains(QStringLiteral("Header Error - ")), resumable);
    QCOMPARE(m_server->requestLines().filter(QRegularExpression("^GET ")).size(), resumable ? 0 : 1);
}

void TestDownloadManager::droppedConnectionResumesLater()
{
    const QString path = QStringLiteral("/files/archive.7z");
    HttpServer::Behaviour behaviour;
    behaviour.dropAfter = 1000 * 1000;
    m_server->setBehaviour(path, behaviour);
    {
        auto first = start(path, true);
        Recorder recorder(first.data());
        m_manager->add(first);
        QVERIFY(waitFinished(recorder));
        QVERIFY(recorder.events.contains(QStringLiteral("error:Server Error")));
    }
    const QByteArray partial = KOVTest::readFile(cacheFile("/files/archive.7z"));
    QVERIFY(partial.size() > 0 && partial.size() <= 1000 * 1000);
    QCOMPARE(partial, m_remote.left(partial.size()));

    m_server->clearBehaviours();
    m_server->clearRequests();
    auto second = start(path, true);
    Recorder recorder(second.data());
    m_manager->add(second);
    QVERIFY(waitFinished(recorder));
    QCOMPARE(m_server->requestLines().value(1),
             QStringLiteral("GET %1 bytes=%2-").arg(path).arg(partial.size()));
    QCOMPARE(KOVTest::readFile(cacheFile("/files/archive.7z")), m_remote);
}

void TestDownloadManager::stalledTransferFailsAndResumes()
{
    const QString path = QStringLiteral("/files/archive.7z");
    HttpServer::Behaviour behaviour;
    behaviour.trickleBytes = 64 * 1024;
    behaviour.trickleIntervalMs = 5;
    behaviour.stallAfter = 700 * 1000; // then the server goes quiet with the connection open
    m_server->setBehaviour(path, behaviour);
    m_manager->setTransferTimeout(500);
    {
        auto first = start(path, true);
        Recorder recorder(first.data());
        QElapsedTimer timer;
        timer.start();
        m_manager->add(first);
        QVERIFY(waitFinished(recorder));
        QVERIFY2(recorder.events.join(' ').contains("error:"), qPrintable(recorder.events.join(' ')));
        QVERIFY(timer.elapsed() < 10000);
    }
    // Nothing is left running, and what arrived is kept for the next try.
    QVERIFY(!m_manager->hasRunningDownloads());
    const QByteArray partial = KOVTest::readFile(cacheFile("/files/archive.7z"));
    QCOMPARE(partial.size(), 700 * 1000);
    QCOMPARE(partial, m_remote.left(partial.size()));

    m_server->clearBehaviours();
    m_server->clearRequests();
    auto second = start(path, true);
    Recorder recorder(second.data());
    m_manager->add(second);
    QVERIFY(waitFinished(recorder));
    QVERIFY(m_server->requestLines().contains(QStringLiteral("GET %1 bytes=%2-").arg(path).arg(partial.size())));
    QCOMPARE(KOVTest::readFile(cacheFile("/files/archive.7z")), m_remote);
}

void TestDownloadManager::cancelKeepsThePartialFile()
{
    const QString path = QStringLiteral("/files/archive.7z");
    HttpServer::Behaviour behaviour;
    behaviour.trickleBytes = 32 * 1024;
    behaviour.trickleIntervalMs = 10;
    m_server->setBehaviour(path, behaviour);
    auto download = start(path, true);
    Recorder recorder(download.data());
    m_manager->add(download);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(cacheFile("/files/archive.7z")).size() > 100 * 1000, 10000);
    QVERIFY(m_manager->hasRunningDownloads());
    m_manager->cancel(download);
    QVERIFY(!m_manager->hasRunningDownloads());
    QVERIFY(!m_manager->find(m_server->url(path)));
    const int served = m_server->requestLines().size();
    QTest::qWait(300);
    // Neither an error nor an end is reported, no byte is written after, nothing more is asked.
    QCOMPARE(recorder.finishedCount, 0);
    QVERIFY(!recorder.events.join(' ').contains("error:"));
    const QByteArray partial = KOVTest::readFile(cacheFile("/files/archive.7z"));
    QTest::qWait(200);
    QCOMPARE(KOVTest::readFile(cacheFile("/files/archive.7z")), partial);
    QCOMPARE(partial, m_remote.left(partial.size()));
    QCOMPARE(m_server->requestLines().size(), served);
}

void TestDownloadManager::notResumableStartsAfresh()
{
    QVERIFY(KOVTest::writeFile(cacheFile("/packages.json"), QByteArray(5000, 'o')));
    m_server->addFile(QStringLiteral("/packages.json"), "[]");
    auto download = start(QStringLiteral("/packages.json"), false);
    Recorder recorder(download.data());
    m_manager->add(download);
    QVERIFY(waitFinished(recorder));
    QCOMPARE(m_server->requestLines(), QStringList({ "GET /packages.json" }));
    QCOMPARE(KOVTest::readFile(cacheFile("/packages.json")), QByteArray("[]"));
    QVERIFY(!download->request().hasRawHeader("Range"));
}

void TestDownloadManager::addingTwiceStartsOnce()
{
    auto download = start(QStringLiteral("/files/archive.7z"), true);
    Recorder recorder(download.data());
    m_manager->add(download);
    m_manager->add(download);
    QCOMPARE(m_manager->find(m_server->url("/files/archive.7z")), download);
    QVERIFY(waitFinished(recorder));
    QTest::qWait(50);
    QCOMPARE(m_server->requestLines().size(), 2);
    QCOMPARE(recorder.finishedCount, 1);
}

void TestDownloadManager::notifyState()
{
    Download download(m_server->url("/x"), true);
    Recorder recorder(&download);
    download.notifyState();
    QCOMPARE(recorder.events, QStringList({ "process:QUEUED" }));
    download.setFileSize(1234);
    recorder.events.clear();
    download.notifyState();
    QCOMPARE(recorder.events, QStringList({ "size:1234", "process:QUEUED" }));
}

void TestDownloadManager::sameNameOwnFiles_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("folders") << "/good.7z"
                             << "/other/good.7z";
    QTest::newRow("latest of each") << "/pkgA/latest.7z"
                                    << "/pkgB/latest.7z";
    QTest::newRow("download endpoints") << "/a/pkg/download"
                                        << "/b/pkg/download";
}

void TestDownloadManager::sameNameOwnFiles()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    const QByteArray a = randomBytes(600 * 1024, 2);
    const QByteArray b = randomBytes(600 * 1024, 3);
    m_server->addFile(first, a);
    m_server->addFile(second, b);
    HttpServer::Behaviour slow;
    slow.trickleBytes = 64 * 1024;
    slow.trickleIntervalMs = 5;
    m_server->setBehaviour(first, slow);
    m_server->setBehaviour(second, slow);

    // At the same time and one after the other: each link has its file, and each gets its own bytes.
    for (int round = 0; round < 2; ++round) {
        auto one = start(first, true);
        auto two = start(second, true);
        Recorder oneRecorder(one.data());
        Recorder twoRecorder(two.data());
        m_manager->add(one);
        m_manager->add(two);
        QVERIFY(one->path() != two->path());
        QVERIFY(waitFinished(oneRecorder));
        QVERIFY(waitFinished(twoRecorder));
        QCOMPARE(oneRecorder.contentAtFinish, a);
        QCOMPARE(twoRecorder.contentAtFinish, b);
        QVERIFY(!oneRecorder.events.join(';').contains("error"));
        QVERIFY(!twoRecorder.events.join(';').contains("error"));
    }
}

void TestDownloadManager::olderPartialFileIsContinued()
{
    // An older run named the file by the link's last component, and download.db says this link wrote it.
    QVERIFY(fetchOnce(QStringLiteral("/files/archive.7z")));
    const QString legacy = m_cache + "/archive.7z";
    QVERIFY(QFile::rename(cacheFile("/files/archive.7z"), legacy));
    QFile file(legacy);
    QVERIFY(file.resize(1024 * 1024));
    m_server->clearRequests();
    // The next start reads download.db afresh.
    m_manager.reset();
    m_manager = QSharedPointer<DownloadManager>::create(m_settings,
                                                        QSharedPointer<QNetworkAccessManager>::create());

    auto download = start(QStringLiteral("/files/archive.7z"), true);
    Recorder recorder(download.data());
    m_manager->add(download);
    QVERIFY(waitFinished(recorder));
    QCOMPARE(m_server->requestLines().value(1), QStringLiteral("GET /files/archive.7z bytes=1048576-"));
    QCOMPARE(KOVTest::readFile(cacheFile("/files/archive.7z")), m_remote);
    QVERIFY(!QFileInfo::exists(legacy));

    // A file of that name that another link may have written is not taken.
    QVERIFY(KOVTest::writeFile(m_cache + "/other.7z", "someone else's"));
    m_server->addFile(QStringLiteral("/x/other.7z"), m_remote);
    auto other = start(QStringLiteral("/x/other.7z"), true);
    Recorder otherRecorder(other.data());
    m_manager->add(other);
    QVERIFY(waitFinished(otherRecorder));
    QCOMPARE(otherRecorder.contentAtFinish, m_remote);
    QCOMPARE(KOVTest::readFile(m_cache + "/other.7z"), QByteArray("someone else's"));
}

void TestDownloadManager::partialOfAnotherUrlIsNotContinued()
{
    const QByteArray a = randomBytes(512 * 1024, 6);
    const QByteArray b = randomBytes(1024 * 1024, 7);
    m_server->addFile(QStringLiteral("/a/pack.7z"), a);
    m_server->addFile(QStringLiteral("/b/pack.7z"), b);
    QVERIFY(fetchOnce(QStringLiteral("/a/pack.7z")));
    m_server->clearRequests();
    auto second = start(QStringLiteral("/b/pack.7z"), true);
    Recorder recorder(second.data());
    m_manager->add(second);
    QVERIFY(waitFinished(recorder));
    QCOMPARE(m_server->requestLines(), QStringList({ "HEAD /b/pack.7z", "GET /b/pack.7z" }));
    QCOMPARE(KOVTest::readFile(cacheFile("/b/pack.7z")), b);
}

void TestDownloadManager::followsRedirect()
{
    HttpServer::Behaviour redirect;
    redirect.redirectTo = QStringLiteral("/files/archive.7z");
    m_server->setBehaviour(QStringLiteral("/latest/archive.7z"), redirect);
    auto download = start(QStringLiteral("/latest/archive.7z"), true);
    Recorder recorder(download.data());
    m_manager->add(download);
    QVERIFY(waitFinished(recorder));
    QCOMPARE(KOVTest::readFile(cacheFile("/latest/archive.7z")), m_remote);
    QVERIFY(!recorder.events.join(';').contains(QStringLiteral("error")));
}

void TestDownloadManager::databaseCreatedAndRemoved()
{
    const QString file = m_home->dataPath() + QStringLiteral("/download.db");
    QVERIFY(QFileInfo::exists(file));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("inspect"));
        db.setDatabaseName(file);
        QVERIFY(db.open());
        QSqlQuery query(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'downloads'"), db);
        QVERIFY(query.next());
        QVERIFY(query.value(0).toString().startsWith(
            QStringLiteral("CREATE TABLE downloads (id        INTEGER")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("inspect"));
    m_manager->removeDatabase();
    QVERIFY(!QFileInfo::exists(file));
    m_manager->removeDatabase();
}

void TestDownloadManager::checksum_data()
{
    QTest::addColumn<QString>("cached"); // what an earlier run left: "", "stale partial", "stale whole"
    QTest::addColumn<bool>("rightSum");
    QTest::addColumn<qint64>("sizeShift"); // added to the size the catalogue gives
    QTest::addColumn<int>("gets");
    QTest::addColumn<bool>("finishes");
    QTest::newRow("fresh, matching") << "" << true << qint64(0) << 1 << true;
    QTest::newRow("resumed onto another file's start") << "stale partial" << true << qint64(0) << 2 << true;
    QTest::newRow("whole file of the same size, other bytes")
        << "stale whole" << true << qint64(0) << 1 << true;
    QTest::newRow("wrong sum in the catalogue") << "" << false << qint64(0) << 2 << false;
    QTest::newRow("wrong size in the catalogue") << "" << true << qint64(1) << 2 << false;
}

void TestDownloadManager::checksum()
{
    QFETCH(QString, cached);
    QFETCH(bool, rightSum);
    QFETCH(qint64, sizeShift);
    QFETCH(int, gets);
    QFETCH(bool, finishes);
    const QString path = QStringLiteral("/files/archive.7z");
    if (!cached.isEmpty()) {
        // Recorded as this URL's file by an earlier run, then not what the server has now.
        QVERIFY(fetchOnce(path));
        const QByteArray other = randomBytes(m_remote.size(), 2);
        QVERIFY(KOVTest::writeFile(cacheFile("/files/archive.7z"),
                                   cached == "stale whole" ? other : other.left(1024 * 1024)));
        m_server->clearRequests();
    }
    const QByteArray sum
        = QCryptographicHash::hash(rightSum ? m_remote : QByteArray("x"), QCryptographicHash::Sha256);
    auto download = start(path, true);
    download->setExpected(sum.toHex(), m_remote.size() + sizeShift);
    Recorder recorder(download.data());
    m_manager->add(download);
    QVERIFY(waitFinished(recorder));

    // A ranged GET is listed with its range.
    QCOMPARE(m_server->requestLines().filter(QRegularExpression("^GET " + path)).size(), gets);
    QCOMPARE(recorder.events.contains("error:Checksum mismatch"), !finishes);
    if (finishes)
        QCOMPARE(recorder.contentAtFinish, m_remote);
    else
        QVERIFY(!QFileInfo::exists(cacheFile("/files/archive.7z")));
}

void TestDownloadManager::replacedOnServer_data()
{
    QTest::addColumn<int>("newSize");
    QTest::addColumn<bool>("headRefused");
    QTest::addColumn<bool>("etag"); // without it the server's Last-Modified stays the same
    QTest::addColumn<bool>("withSum");
    QTest::newRow("same size") << 3 * 1024 * 1024 << false << true << false;
    QTest::newRow("other size") << 2 * 1024 * 1024 + 17 << false << true << false;
    QTest::newRow("HEAD refused, same size") << 3 * 1024 * 1024 << true << true << false;
    QTest::newRow("HEAD refused, other size") << 4 * 1024 * 1024 << true << true << false;
    QTest::newRow("validator unchanged, caught by the sum") << 3 * 1024 * 1024 << false << false << true;
}

void TestDownloadManager::replacedOnServer()
{
    QFETCH(int, newSize);
    QFETCH(bool, headRefused);
    QFETCH(bool, etag);
    QFETCH(bool, withSum);
    const QString path = QStringLiteral("/files/archive.7z");
    HttpServer::Behaviour behaviour;
    behaviour.omitETag = !etag;
    m_server->setBehaviour(path, behaviour);
    QVERIFY(fetchOnce(path));
    // A run broke off after a third, and the server got a new file before the next one.
    QFile file(cacheFile("/files/archive.7z"));
    QVERIFY(file.resize(1024 * 1024));
    const QByteArray replaced = randomBytes(newSize, 3);
    m_server->addFile(path, replaced);
    behaviour.headStatus = headRefused ? 405 : 0;
    m_server->setBehaviour(path, behaviour);
    m_server->clearRequests();

    auto download = start(path, true);
    if (withSum)
        download->setExpected(QCryptographicHash::hash(replaced, QCryptographicHash::Sha256).toHex(),
                              newSize);
    Recorder recorder(download.data());
    m_manager->add(download);
    QVERIFY(waitFinished(recorder));
    // Never a file that mixes the two.
    QCOMPARE(recorder.contentAtFinish, replaced);
    QVERIFY2(!recorder.events.join(' ').contains("error:"), qPrintable(recorder.events.join(' ')));
}

void TestDownloadManager::realServerReplacedFile_data()
{
    QTest::addColumn<int>("newSize");
    QTest::addColumn<bool>("headRefused");
    QTest::addColumn<int>("mtimeShift"); // seconds; nginx's ETag is the file's mtime and size
    QTest::addColumn<bool>("withSum");
    QTest::newRow("same size") << 3 * 1024 * 1024 << false << 60 << false;
    QTest::newRow("other size") << 2 * 1024 * 1024 + 17 << false << 60 << false;
    QTest::newRow("HEAD refused, same size") << 3 * 1024 * 1024 << true << 60 << false;
    QTest::newRow("HEAD refused, other size") << 4 * 1024 * 1024 << true << 60 << false;
    // Same size in the same second: the validator cannot tell, the sum does.
    QTest::newRow("same size and second, caught by the sum") << 3 * 1024 * 1024 << false << 0 << true;
}

void TestDownloadManager::realServerReplacedFile()
{
    QFETCH(int, newSize);
    QFETCH(bool, headRefused);
    QFETCH(int, mtimeShift);
    QFETCH(bool, withSum);
    if (!QFileInfo::exists(QStringLiteral("/usr/sbin/nginx")))
        QSKIP("nginx is not installed (Debian package nginx-light)");
    const QString root = m_home->path() + "/www";
    const QString served = root + "/archive.7z";
    QVERIFY(KOVTest::writeFile(served, m_remote));
    QFile original(served);
    QVERIFY(original.open(QIODevice::ReadWrite));
    const QDateTime stamp = QDateTime::currentDateTimeUtc().addSecs(-3600);
    QVERIFY(original.setFileTime(stamp, QFileDevice::FileModificationTime));
    original.close();
    KOVTest::NginxServer nginx(root, { headRefused, {}, {}, {} });
    QVERIFY2(nginx.isRunning(), nginx.errors().constData());
    const QString url = nginx.url("/archive.7z");
    {
        // Without a HEAD the first run cannot know the file: it gets it whole, and its validator.
        auto first = QSharedPointer<Download>::create(url, true);
        Recorder recorder(first.data());
        m_manager->add(first);
        QVERIFY(waitFinished(recorder));
        QCOMPARE(recorder.contentAtFinish, m_remote);
    }
    QFile partial(KOVTest::cachedFile(m_cache, url));
    QVERIFY(partial.resize(1024 * 1024));
    const QByteArray replaced = randomBytes(newSize, 4);
    QVERIFY(KOVTest::writeFile(served, replaced));
    QFile renewed(served);
    QVERIFY(renewed.open(QIODevice::ReadWrite));
    QVERIFY(renewed.setFileTime(stamp.addSecs(mtimeShift), QFileDevice::FileModificationTime));
    renewed.close();

    auto download = QSharedPointer<Download>::create(url, true);
    if (withSum)
        download->setExpected(QCryptographicHash::hash(replaced, QCryptographicHash::Sha256).toHex(),
                              newSize);
    Recorder recorder(download.data());
    m_manager->add(download);
    QVERIFY(waitFinished(recorder));
    QCOMPARE(recorder.contentAtFinish, replaced);
    QVERIFY2(!recorder.events.join(' ').contains("error:"), qPrintable(recorder.events.join(' ')));
}

QTEST_MAIN(TestDownloadManager)
#include "tst_downloadmanager.moc"
