// Archives and catalogues over https from a real nginx: a certificate of a CA the test trusts works, a resumed
// download too; a self-signed one, another host's and an expired one are refused with Qt's reason in log.txt.

#include <QNetworkAccessManager>
#include <QRandomGenerator>
#include <QSslConfiguration>
#include <QtTest>

#include "app/settings.h"
#include "managers/downloadmanager.h"
#include "models/download.h"
#include "nginxserver.h"
#include "testsupport.h"
#include "tlscertificates.h"

using KOV::Managers::DownloadManager;
using KOV::Models::Download;
using KOVTest::TlsIdentity;

class TestHttps final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void certificates_data();
    void certificates();
    void resumesOverTls();

private:
    /** Runs one download of `url`; its error texts. */
    QStringList fetch(const QString &url, QByteArray *content);

    QTemporaryDir m_dir;
    TlsIdentity m_authority;
    QByteArray m_remote;
    QScopedPointer<KOVTest::TemporaryHome> m_home;
    QSharedPointer<KOV::Settings> m_settings;
    QSharedPointer<DownloadManager> m_manager;
};

void TestHttps::initTestCase()
{
    if (!QFileInfo::exists(QStringLiteral("/usr/sbin/nginx")))
        QSKIP("nginx is not installed (Debian package nginx-light)");
    m_authority = KOVTest::makeIdentity("KovVazuv test CA", QByteArray(), -1, 30, nullptr, true);
    // Trusted by this test alone, as a distributor's own CA would be by the system.
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(QSslCertificate::fromData(m_authority.certificate));
    QSslConfiguration::setDefaultConfiguration(configuration);
    m_remote = QByteArray(900 * 1024, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(m_remote.data()), m_remote.size() / 4);
    QVERIFY(KOVTest::writeFile(m_dir.path() + "/root/archive.7z", m_remote));
    m_home.reset(new KOVTest::TemporaryHome);
    QCoreApplication::setOrganizationName(QStringLiteral("Tarrowmere"));
    QCoreApplication::setApplicationName(QStringLiteral("KOV Vazuv"));
    m_settings = QSharedPointer<KOV::Settings>::create();
    m_settings->edited().cache.value = m_home->path() + "/cache/";
    m_settings->commit();
    m_manager = QSharedPointer<DownloadManager>::create(m_settings, QSharedPointer<QNetworkAccessManager>::create());
}

QStringList TestHttps::fetch(const QString &url, QByteArray *content)
{
    auto download = QSharedPointer<Download>::create(url, true);
    QStringList errors;
    bool finished = false;
    QObject context;
    connect(download.data(), &Download::error, &context, [&errors](const QString &text) { errors << text; });
    connect(download.data(), &Download::finished, &context, [&](const QString &path) {
        finished = true;
        *content = KOVTest::readFile(path);
    });
    m_manager->add(download);
    QElapsedTimer timer;
    timer.start();
    while (!finished && timer.elapsed() < 20000)
        QTest::qWait(10);
    return finished ? errors : QStringList { "did not finish" };
}

void TestHttps::certificates_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason"); // Qt's, in log.txt; empty: accepted
    QTest::newRow("signed by the trusted CA") << "trusted" << QString();
    QTest::newRow("self-signed") << "self-signed" << "The certificate is self-signed, and untrusted";
    QTest::newRow("another host's") << "other host" << "The host name did not match any of the valid hosts";
    QTest::newRow("expired") << "expired" << "The certificate has expired";
}

void TestHttps::certificates()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    TlsIdentity server;
    if (kind == "trusted")
        server = KOVTest::makeIdentity("127.0.0.1", "IP:127.0.0.1", -1, 30, &m_authority);
    else if (kind == "self-signed")
        server = KOVTest::makeIdentity("127.0.0.1", "IP:127.0.0.1", -1, 30);
    else if (kind == "other host")
        server = KOVTest::makeIdentity("other.example", "DNS:other.example", -1, 30, &m_authority);
    else
        server = KOVTest::makeIdentity("127.0.0.1", "IP:127.0.0.1", -30, -1, &m_authority);
    const QString folder = m_dir.path() + "/" + kind;
    QVERIFY(KOVTest::writeFile(folder + "/cert.pem", server.certificate));
    QVERIFY(KOVTest::writeFile(folder + "/key.pem", server.key));
    KOVTest::NginxServer nginx(m_dir.path() + "/root", { false, folder + "/cert.pem", folder + "/key.pem", {} });
    QVERIFY2(nginx.isRunning(), nginx.errors().constData());

    KOVTest::LogCapture log;
    QByteArray content;
    const QStringList errors = fetch(nginx.url("/archive.7z"), &content);
    if (reason.isEmpty()) {
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(';') + log.lines().join('\n')));
        QCOMPARE(content, m_remote);
        return;
    }
    QCOMPARE(errors, QStringList { "Server Error" });
    QVERIFY(content.isEmpty());
    QVERIFY2(!log.lines().filter("TLS Error : ").filter(reason).isEmpty(), qPrintable(log.lines().join('\n')));
}

void TestHttps::resumesOverTls()
{
    const TlsIdentity server = KOVTest::makeIdentity("127.0.0.1", "IP:127.0.0.1", -1, 30, &m_authority);
    QVERIFY(KOVTest::writeFile(m_dir.path() + "/resume/cert.pem", server.certificate));
    QVERIFY(KOVTest::writeFile(m_dir.path() + "/resume/key.pem", server.key));
    const QString access = m_dir.path() + "/resume/access.log";
    KOVTest::NginxServer nginx(m_dir.path() + "/root", { false, m_dir.path() + "/resume/cert.pem",
                                                         m_dir.path() + "/resume/key.pem",
                                                         "access_log \"" + access + "\";" });
    QVERIFY2(nginx.isRunning(), nginx.errors().constData());
    const QString url = nginx.url("/archive.7z");
    QByteArray content;
    QVERIFY(fetch(url, &content).isEmpty());
    // What an interrupted first run would have left.
    const QString cached = KOVTest::cachedFile(m_home->path() + "/cache", url);
    QFile partial(cached);
    QVERIFY(partial.resize(300 * 1024));
    KOVTest::LogCapture log;
    QVERIFY(fetch(url, &content).isEmpty());
    QCOMPARE(content, m_remote);
    // Continued, not fetched again: the server's validator matched and only the rest came.
    QVERIFY(log.lines().filter("TLS Error").isEmpty());
    const QByteArray requests = KOVTest::readFile(access);
    QVERIFY2(requests.contains("\"GET /archive.7z HTTP/1.1\" 206 " + QByteArray::number(m_remote.size() - 300 * 1024)),
             requests.constData());
}

QTEST_MAIN(TestHttps)
#include "tst_https.moc"
