// What a server that lies, cheats or dawdles can do to the download manager: never a crash, never a hang,
// never bytes kept that are not the archive's.

#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include "app/settings.h"
#include "httpserver.h"
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
    for (char &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

QByteArray gzip(const QByteArray &bytes)
{
    QProcess process;
    process.start(QStringLiteral("gzip"), { QStringLiteral("-c") });
    process.write(bytes);
    process.closeWriteChannel();
    process.waitForFinished(10000);
    return process.readAllStandardOutput();
}

// How one download ended.
struct Outcome
{
    int finished = 0;
    QStringList errors;
    QByteArray content;
};

} // namespace

class TestHostileWire final : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void hostileAnswer_data();
    void hostileAnswer();
    void unsupportedLink_data();
    void unsupportedLink();
    void cacheFileIsAFolder();
    void oddNamesStayInTheCache_data();
    void oddNamesStayInTheCache();
    void trickleIsAStall();
    void sizeLimit_data();
    void sizeLimit();
    void errorWhileABoxIsOpen();
    void mirrors_data();
    void mirrors();
    void randomAnswers();

private:
    QSharedPointer<Download> archive(const QString &path);
    Outcome run(const QSharedPointer<Download> &download, int timeoutMs = 20000);
    QString cacheFile(const QString &path) const { return KOVTest::cachedFile(m_cache, m_server->url(path)); }
    /** An earlier run of `path` left its first `bytes` bytes; download.db says it wrote them. */
    void leavePartial(const QString &path, int bytes);

    QScopedPointer<KOVTest::TemporaryHome> m_home;
    QString m_cache;
    QSharedPointer<KOV::Settings> m_settings;
    QSharedPointer<DownloadManager> m_manager;
    QScopedPointer<HttpServer> m_server;
    QByteArray m_remote;
};

void TestHostileWire::init()
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
    m_manager->setTransferTimeout(2000);
    m_server.reset(new HttpServer);
    QVERIFY(m_server->listen());
    m_remote = randomBytes(200 * 1024, 1);
    m_server->addFile(QStringLiteral("/a.7z"), m_remote);
}

void TestHostileWire::cleanup()
{
    m_manager.reset();
    m_server.reset();
    m_settings.reset();
    m_home.reset();
}

QSharedPointer<Download> TestHostileWire::archive(const QString &path)
{
    auto download = QSharedPointer<Download>::create(m_server->url(path), true);
    download->setExpected(QCryptographicHash::hash(m_remote, QCryptographicHash::Sha256).toHex(),
                          m_remote.size());
    return download;
}

Outcome TestHostileWire::run(const QSharedPointer<Download> &download, int timeoutMs)
{
    Outcome outcome;
    QObject context;
    connect(download.data(), &Download::error, &context,
            [&outcome](const QString &text) { outcome.errors << text; });
    connect(download.data(), &Download::finished, &context, [&outcome](const QString &path) {
        ++outcome.finished;
        outcome.content = KOVTest::readFile(path);
    });
    m_manager->add(download);
    QElapsedTimer timer;
    timer.start();
    while (outcome.finished == 0 && timer.elapsed() < timeoutMs)
        QTest::qWait(5);
    // Nothing more comes after the end.
    QTest::qWait(20);
    return outcome;
}

void TestHostileWire::leavePartial(const QString &path, int bytes)
{
    QCOMPARE(run(archive(path)).content, m_remote);
    QFile file(cacheFile(path));
    QVERIFY(file.resize(bytes));
    m_server->clearRequests();
}

void TestHostileWire::hostileAnswer_data()
{
    // The GET's answer; "{N}" is the archive's size, "{L}" the body's length. HEAD is answered truly.
    QTest::addColumn<int>("partial");
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("bodyFrom");
    QTest::addColumn<int>("bodyLength"); // -1: to the end
    QTest::addColumn<bool>("compressed");
    QTest::addColumn<QString>("error"); // "" when the right bytes arrive
    const QByteArray ok = "HTTP/1.1 200 OK\r\nContent-Length: {L}\r\n\r\n";
    const QString server = QStringLiteral("Server Error");
    QTest::newRow("plain GET answered 206 of another start")
        << 0 << QByteArray("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 5-{N-1}/{N}\r\nContent-Length: {L}\r\n\r\n")
        << 5 << -1 << false << server;
    QTest::newRow("plain GET answered 206 from the start") << 0
        << QByteArray("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-{N-1}/{N}\r\nContent-Length: {L}\r\n\r\n")
        << 0 << -1 << false << QString();
    QTest::newRow("resume answered 206 bytes 5-")
        << 60 << QByteArray("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 5-\r\nContent-Length: {L}\r\n\r\n")
        << 5 << -1 << false << server;
    QTest::newRow("resume answered 206 of another start") << 60
        << QByteArray("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 10-{N-1}/{N}\r\nContent-Length: {L}\r\n\r\n")
        << 10 << -1 << false << server;
    QTest::newRow("resume answered 206 without Content-Range")
        << 60 << QByteArray("HTTP/1.1 206 Partial Content\r\nContent-Length: {L}\r\n\r\n") << 60 << -1
        << false << server;
    QTest::newRow("resume answered 200 with a Content-Range")
        << 60 << QByteArray("HTTP/1.1 200 OK\r\nContent-Range: bytes 60-{N-1}/{N}\r\nContent-Length: {L}\r\n\r\n")
        << 0 << -1 << false << QString();
    QTest::newRow("Content-Length shorter than the body")
        << 0 << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n") << 0 << -1 << false << server;
    QTest::newRow("Content-Length longer than the body")
        << 0 << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: {N+10}\r\n\r\n") << 0 << -1 << false << server;
    // Read to the end of the connection: the sum vouches for the bytes.
    QTest::newRow("negative Content-Length")
        << 0 << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n") << 0 << -1 << false << QString();
    QTest::newRow("no length, the connection cut short")
        << 0 << QByteArray("HTTP/1.1 200 OK\r\n\r\n") << 0 << 5000 << false << server;
    QTest::newRow("other bytes of the right length")
        << 0 << ok << 1 << -1 << false << QStringLiteral("Checksum mismatch");
    QTest::newRow("gzip in transit") << 0
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: {L}\r\n\r\n") << 0 << -1
        << true << QStringLiteral("The server compressed the archive in transit.");
    QTest::newRow("gzip in transit on a resume") << 60
        << QByteArray("HTTP/1.1 206 Partial Content\r\nContent-Encoding: gzip\r\nContent-Range: bytes 60-{N-1}/{N}\r\nContent-Length: {L}\r\n\r\n")
        << 60 << -1 << true << QStringLiteral("The server compressed the archive in transit.");
    QTest::newRow("identity is no encoding")
        << 0 << QByteArray("HTTP/1.1 200 OK\r\nContent-Encoding: identity\r\nContent-Length: {L}\r\n\r\n") << 0
        << -1 << false << QString();
    QTest::newRow("garbage status line") << 0 << QByteArray("HTTP/9 abc\r\n\r\n") << 0 << -1 << false << server;
    QTest::newRow("headers without end") << 0 << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 5") << 0 << 0
                                         << false << server;
}

void TestHostileWire::hostileAnswer()
{
    QFETCH(int, partial);
    QFETCH(QByteArray, head);
    QFETCH(int, bodyFrom);
    QFETCH(int, bodyLength);
    QFETCH(bool, compressed);
    QFETCH(QString, error);
    const QString path = QStringLiteral("/a.7z");
    if (partial > 0)
        leavePartial(path, partial);
    QByteArray body = bodyFrom == 1 ? randomBytes(m_remote.size(), 9) : m_remote.mid(bodyFrom, bodyLength);
    if (compressed)
        body = gzip(body);
    const qint64 n = m_remote.size();
    head.replace("{N-1}", QByteArray::number(n - 1))
        .replace("{N+10}", QByteArray::number(n + 10))
        .replace("{N}", QByteArray::number(n))
        .replace("{L}", QByteArray::number(body.size()));
    HttpServer::Behaviour hostile;
    hostile.raw = head + body;
    m_server->setBehaviour(path, hostile);

    KOVTest::LogCapture log;
    const Outcome outcome = run(archive(path));
    QCOMPARE(outcome.finished, 1);
    if (error.isEmpty()) {
        QVERIFY2(outcome.errors.isEmpty(), qPrintable(outcome.errors.join(';')));
        QCOMPARE(outcome.content, m_remote);
        return;
    }
    QCOMPARE(outcome.errors, QStringList { error });
    QVERIFY(log.contains(QStringLiteral("Download Error - ")));
    // Whatever is left on disk is the archive's beginning, for a later resume, never other bytes.
    const QByteArray left = KOVTest::readFile(cacheFile(path));
    QVERIFY2(m_remote.startsWith(left), qPrintable(QString::number(left.size())));
}

void TestHostileWire::unsupportedLink_data()
{
    QTest::addColumn<QString>("link");
    QTest::newRow("a file of this machine") << "file:///etc/passwd";
    QTest::newRow("a local archive") << "file:///tmp/archive.7z";
    QTest::newRow("a resource of the program") << "qrc:/resources/style.qss";
    QTest::newRow("data") << "data:application/octet-stream;base64,N3q8ryccAAQ=";
    QTest::newRow("ftp") << "ftp://127.0.0.1/a.7z";
    QTest::newRow("no scheme") << "/etc/passwd";
    QTest::newRow("no host") << "http:///a.7z";
}

void TestHostileWire::unsupportedLink()
{
    QFETCH(QString, link);
    for (const bool resumable : { true, false }) {
        auto download = QSharedPointer<Download>::create(link, resumable);
        KOVTest::LogCapture log;
        const Outcome outcome = run(download);
        QCOMPARE(outcome.finished, 1);
        QCOMPARE(outcome.errors.size(), 1);
        QVERIFY2(outcome.errors.first().startsWith(QStringLiteral("This link is not supported: ")),
                 qPrintable(outcome.errors.first()));
        QVERIFY(outcome.content.isEmpty());
        QVERIFY(QDir(m_cache).entryList(QDir::Files | QDir::Hidden).isEmpty());
        QVERIFY(log.contains(QStringLiteral("Download Error - ")));
    }
}

void TestHostileWire::cacheFileIsAFolder()
{
    const QString path = QStringLiteral("/a.7z");
    QVERIFY(QDir().mkpath(cacheFile(path) + "/inside"));
    const Outcome outcome = run(archive(path));
    QCOMPARE(outcome.finished, 1);
    QCOMPARE(outcome.errors, QStringList { QStringLiteral("Cannot write to %1").arg(cacheFile(path)) });
    QVERIFY(QFileInfo::exists(cacheFile(path) + "/inside"));
}

void TestHostileWire::oddNamesStayInTheCache_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("two dots") << "/a/%2e%2e";
    QTest::newRow("one dot") << "/a/.";
    QTest::newRow("a slash in the name") << "/a/x%2f..%2f..%2fescape.7z";
    QTest::newRow("a hidden name") << "/a/.bashrc";
}

void TestHostileWire::oddNamesStayInTheCache()
{
    QFETCH(QString, path);
    auto download = QSharedPointer<Download>::create(m_server->url(path), true);
    // Whatever the server is asked for, it answers with the archive.
    HttpServer::Behaviour answer;
    answer.raw = "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(m_remote.size()) + "\r\n\r\n" + m_remote;
    answer.rawForHead = true;
    // As asked, or as Qt normalised it on the way.
    const QString decoded = QUrl::fromPercentEncoding(path.toUtf8());
    for (const QString &asked : { decoded, QDir::cleanPath(decoded), decoded.chopped(1) })
        m_server->setBehaviour(asked, answer);
    download->setExpected(QCryptographicHash::hash(m_remote, QCryptographicHash::Sha256).toHex(), m_remote.size());
    const Outcome outcome = run(download);
    QCOMPARE(outcome.finished, 1);
    // A file of its own inside the cache folder, and nothing beside it.
    QCOMPARE(QFileInfo(download->path()).absolutePath(), QFileInfo(m_cache + "/x").absolutePath());
    QVERIFY(QFileInfo(download->path()).isFile());
    QCOMPARE(QDir(m_home->path()).entryList(QDir::Files), QStringList());
}

void TestHostileWire::trickleIsAStall()
{
    // A byte every 100 ms keeps the connection alive: only the speed limit ends it.
    const QString path = QStringLiteral("/a.7z");
    HttpServer::Behaviour trickle;
    trickle.trickleBytes = 1;
    trickle.trickleIntervalMs = 100;
    m_server->setBehaviour(path, trickle);
    m_manager->setSpeedLimit(1024, 800);
    KOVTest::LogCapture log;
    QElapsedTimer timer;
    timer.start();
    const Outcome outcome = run(archive(path), 10000);
    QCOMPARE(outcome.finished, 1);
    QCOMPARE(outcome.errors, QStringList { QStringLiteral("Server Error") });
    QVERIFY(timer.elapsed() < 5000);
    QVERIFY2(!log.lines().filter(QStringLiteral("slower than 1024 bytes/s")).isEmpty(),
             qPrintable(log.lines().join('\n')));
    // A transfer at a good pace is left alone.
    m_server->clearBehaviours();
    m_manager->setSpeedLimit(1024, 200);
    HttpServer::Behaviour steady;
    steady.trickleBytes = 4096;
    steady.trickleIntervalMs = 20;
    m_server->setBehaviour(path, steady);
    const Outcome steadyOutcome = run(archive(path));
    QVERIFY(steadyOutcome.errors.isEmpty());
    QCOMPARE(steadyOutcome.content, m_remote);
}

void TestHostileWire::sizeLimit_data()
{
    QTest::addColumn<bool>("announced");
    QTest::addColumn<bool>("resumable");
    QTest::newRow("catalogue with a length") << true << false;
    QTest::newRow("catalogue without a length") << false << false;
    QTest::newRow("archive without a length") << false << true;
}

void TestHostileWire::sizeLimit()
{
    QFETCH(bool, announced);
    QFETCH(bool, resumable);
    const QString path = QStringLiteral("/big.json");
    m_server->addFile(path, QByteArray(300 * 1024, ' '));
    HttpServer::Behaviour behaviour;
    behaviour.omitContentLength = !announced;
    m_server->setBehaviour(path, behaviour);
    auto download = QSharedPointer<Download>::create(m_server->url(path), resumable);
    download->setMaximumSize(100 * 1024);
    const Outcome outcome = run(download);
    QCOMPARE(outcome.finished, 1);
    QCOMPARE(outcome.errors, QStringList { QStringLiteral("The file is larger than 100 KiB.") });
    // Not left in the cache, and never more than the limit written.
    if (!resumable)
        QVERIFY(!QFileInfo::exists(cacheFile(path)));
    QVERIFY(QFileInfo(cacheFile(path)).size() <= 100 * 1024);
}

void TestHostileWire::errorWhileABoxIsOpen()
{
    // A listener opens a modal box from the first progress; the connection breaks while it is open, and
    // the reply ends inside the box's own event loop.
    const QString path = QStringLiteral("/a.7z");
    HttpServer::Behaviour cut;
    cut.trickleBytes = 8 * 1024;
    cut.trickleIntervalMs = 5;
    cut.dropAfter = 100 * 1024;
    m_server->setBehaviour(path, cut);
    auto download = archive(path);
    bool opened = false;
    QObject context;
    const auto openBox = [&opened] {
        if (opened)
            return;
        opened = true;
        QMessageBox box(QMessageBox::Information, "busy", "busy", QMessageBox::Ok);
        QTimer::singleShot(600, &box, &QMessageBox::accept);
        box.exec();
    };
    connect(download.data(), QOverload<qlonglong>::of(&Download::currentSize), &context, openBox);
    connect(download.data(), &Download::error, &context, [](const QString &) {
        QMessageBox box(QMessageBox::Critical, "error", "error", QMessageBox::Ok);
        QTimer::singleShot(300, &box, &QMessageBox::accept);
        box.exec();
    });
    const Outcome outcome = run(download);
    QVERIFY(opened);
    QCOMPARE(outcome.finished, 1);
    QCOMPARE(outcome.errors, QStringList { QStringLiteral("Server Error") });
    QVERIFY(m_remote.startsWith(KOVTest::readFile(cacheFile(path))));
}

void TestHostileWire::mirrors_data()
{
    // How each of three servers answers, in the order the catalogue lists them (link, then its mirrors).
    QTest::addColumn<QStringList>("servers");
    QTest::addColumn<bool>("finishes");
    QTest::addColumn<int>("resumedAt"); // the last server continues from this byte; -1: from the start
    QTest::newRow("first cut short, second wrong, third fine") << QStringList { "cut", "wrong", "fine" } << true << -1;
    QTest::newRow("first wrong, second cut short, third continues") << QStringList { "wrong", "cut", "fine" } << true
                                                                    << 100 * 1024;
    QTest::newRow("first gone, second stalls, third fine") << QStringList { "404", "stall", "fine" } << true << 64 * 1024;
    QTest::newRow("all broken") << QStringList { "404", "wrong", "cut" } << false << -1;
    QTest::newRow("a mirror that is no web link") << QStringList { "404", "file", "fine" } << true << -1;
}

void TestHostileWire::mirrors()
{
    QFETCH(QStringList, servers);
    QFETCH(bool, finishes);
    QFETCH(int, resumedAt);
    const QByteArray wrong = randomBytes(m_remote.size(), 77);
    QVector<QSharedPointer<HttpServer>> hosts;
    QStringList links;
    for (const QString &kind : servers) {
        auto host = QSharedPointer<HttpServer>::create();
        QVERIFY(host->listen());
        host->addFile("/pkg/a.7z", kind == "wrong" ? wrong : m_remote);
        HttpServer::Behaviour behaviour;
        if (kind == "cut")
            behaviour.dropAfter = 100 * 1024;
        else if (kind == "404")
            behaviour.errorStatus = 404;
        else if (kind == "stall")
            behaviour.stallAfter = 64 * 1024;
        host->setBehaviour("/pkg/a.7z", behaviour);
        links << (kind == "file" ? QStringLiteral("file:///etc/passwd") : host->url("/pkg/a.7z"));
        hosts << host;
    }
    m_manager->setTransferTimeout(500);
    auto download = QSharedPointer<Download>::create(links.first(), true);
    download->setMirrors(links.mid(1));
    download->setExpected(QCryptographicHash::hash(m_remote, QCryptographicHash::Sha256).toHex(), m_remote.size());
    KOVTest::LogCapture log;
    const Outcome outcome = run(download);
    QCOMPARE(outcome.finished, 1);
    // The signed checksum decides, whoever served the bytes.
    if (finishes) {
        QVERIFY2(outcome.errors.isEmpty(), qPrintable(outcome.errors.join(';')));
        QCOMPARE(outcome.content, m_remote);
        const QStringList last = hosts.last()->requestLines();
        if (resumedAt >= 0)
            QVERIFY2(last.contains(QStringLiteral("GET /pkg/a.7z bytes=%1-").arg(resumedAt)), qPrintable(last.join(';')));
        else
            QVERIFY2(last.contains(QStringLiteral("GET /pkg/a.7z")), qPrintable(last.join(';')));
        QVERIFY(log.count("Trying the next mirror : ") >= 1);
    } else {
        QCOMPARE(outcome.errors.size(), 1);
        QCOMPARE(log.count("Trying the next mirror : "), 2);
        // The last reason is the one told: the cut connection of the third.
        QVERIFY(log.lines().filter("Download Error - ").last().contains(hosts.last()->url("/pkg/a.7z")));
    }
}

void TestHostileWire::randomAnswers()
{
    // Random status lines, headers, lengths, ranges, encodings and pacing, for a bounded time.
    const int seconds = qEnvironmentVariableIsSet("KOV_WIRE_FUZZ_SECONDS")
                            ? qEnvironmentVariableIntValue("KOV_WIRE_FUZZ_SECONDS")
                            : 15;
    const quint32 seed = qEnvironmentVariableIsSet("KOV_WIRE_FUZZ_SEED")
                             ? quint32(qEnvironmentVariableIntValue("KOV_WIRE_FUZZ_SEED"))
                             : QRandomGenerator::global()->generate();
    qInfo("seed %u (KOV_WIRE_FUZZ_SEED replays it)", seed);
    QRandomGenerator random(seed);
    const auto pick = [&random](std::initializer_list<const char *> choices) {
        return QByteArray(*(choices.begin() + random.bounded(int(choices.size()))));
    };
    m_remote = randomBytes(64 * 1024, 5);
    m_manager->setTransferTimeout(500);
    m_manager->setSpeedLimit(1024, 1500);
    const QString path = QStringLiteral("/f.7z");
    m_server->addFile(path, m_remote);
    const QByteArray sum = QCryptographicHash::hash(m_remote, QCryptographicHash::Sha256).toHex();
    const qint64 n = m_remote.size();

    QElapsedTimer timer;
    timer.start();
    int runs = 0;
    int good = 0;
    while (timer.elapsed() < seconds * 1000) {
        ++runs;
        // What an earlier run left: nothing, a true beginning, or other bytes.
        const int partial = int(random.bounded(3)) == 0 ? 0 : int(random.bounded(int(n)));
        if (partial > 0) {
            QByteArray left = m_remote.left(partial);
            if (random.bounded(4) == 0)
                left = randomBytes(partial, random.generate());
            QVERIFY(KOVTest::writeFile(cacheFile(path), left));
        } else {
            QFile::remove(cacheFile(path));
        }
        const auto answer = [&](bool forHead) {
            const QByteArray status = pick({ "200 OK", "206 Partial Content", "206 Partial Content", "200 OK",
                                             "302 Found", "304 Not Modified", "404 Not Found", "416 Range Not Satisfiable",
                                             "500 Oops", "999 What", "abc" });
            const int from = random.bounded(3) == 0 ? int(random.bounded(int(n))) : (random.bounded(2) ? partial : 0);
            QByteArray body = m_remote.mid(from);
            if (random.bounded(5) == 0)
                body = body.left(int(random.bounded(body.size() + 1)));
            if (random.bounded(8) == 0)
                body += randomBytes(int(random.bounded(2000)), random.generate());
            const bool gzipped = random.bounded(8) == 0;
            if (gzipped)
                body = gzip(body);
            QByteArray head = "HTTP/1.1 " + status + "\r\n";
            switch (random.bounded(6)) {
            case 0:
                break;
            case 1:
                head += "Content-Length: " + QByteArray::number(body.size() + int(random.bounded(21)) - 10) + "\r\n";
                break;
            case 2:
                head += "Content-Length: " + pick({ "-1", "abc", "99999999999999999999", "" }) + "\r\n";
                break;
            default:
                head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
                break;
            }
            if (random.bounded(2))
                head += "Content-Range: bytes " + QByteArray::number(from) + '-'
                        + (random.bounded(4) ? QByteArray::number(n - 1) + '/' + QByteArray::number(n)
                                             : pick({ "", "*", "x/y", "5" }))
                        + "\r\n";
            if (random.bounded(2))
                head += "ETag: \"" + pick({ "a", "b", "W/c" }) + "\"\r\n";
            if (random.bounded(4) == 0)
                head += "Last-Modified: " + pick({ "yesterday", "Wed, 01 Jul 2026 10:00:00 GMT" }) + "\r\n";
            if (gzipped || random.bounded(10) == 0)
                head += "Content-Encoding: " + pick({ "gzip", "br", "identity", "x" }) + "\r\n";
            if (random.bounded(12) == 0)
                head += "Transfer-Encoding: chunked\r\n";
            if (status.startsWith("302"))
                head += "Location: " + pick({ "/f.7z", "file:///etc/passwd", "ftp://x/", "" }) + "\r\n";
            HttpServer::Behaviour behaviour;
            behaviour.raw = head + "\r\n" + (forHead ? QByteArray() : body);
            behaviour.rawForHead = forHead;
            if (random.bounded(4) == 0)
                behaviour.dropAfter = random.bounded(behaviour.raw.size() + 1);
            if (random.bounded(6) == 0) {
                behaviour.trickleBytes = 1 + int(random.bounded(2048));
                behaviour.trickleIntervalMs = int(random.bounded(30));
            }
            if (random.bounded(15) == 0)
                behaviour.stallAfter = random.bounded(behaviour.raw.size() + 1);
            return behaviour;
        };
        // HEAD answered truly or not; the GET (and the fresh start after a mismatch) as drawn.
        m_server->setBehaviour(path, answer(random.bounded(3) == 0));
        if (m_server->requests().size() > 10000)
            m_server->clearRequests();
        auto download = QSharedPointer<Download>::create(m_server->url(path), true);
        download->setExpected(sum, n);
        QObject context;
        // Half the time the next answer is drawn once the first request is in: the GET gets its own.
        // A third of the GETs are answered truly, so that resuming after a lie is tried as well.
        connect(download.data(), &Download::processChanged, &context, [&](Download::Process process) {
            if (process != Download::DOWNLOADING)
                return;
            if (random.bounded(3) == 0)
                m_server->clearBehaviours();
            else if (random.bounded(2))
                m_server->setBehaviour(path, answer(false));
        });
        const Outcome outcome = run(download, 15000);
        QVERIFY2(outcome.finished == 1, qPrintable(QStringLiteral("run %1 did not end (seed %2)").arg(runs).arg(seed)));
        if (outcome.errors.isEmpty()) {
            QVERIFY2(outcome.content == m_remote, qPrintable(QStringLiteral("run %1: wrong bytes kept (seed %2)").arg(runs).arg(seed)));
            ++good;
        } else {
            QCOMPARE(outcome.errors.size(), 1);
        }
        m_server->clearBehaviours();
    }
    qInfo("%d runs, %d with the archive whole", runs, good);
    QVERIFY(runs > 20);
}

QTEST_MAIN(TestHostileWire)
#include "tst_hostilewire.moc"
