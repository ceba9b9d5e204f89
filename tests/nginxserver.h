#pragma once

// nginx on a free loopback port, serving a folder for as long as the object lives: plain, or with TLS.

#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include "testsupport.h"

namespace KOVTest {

class NginxServer
{
public:
    struct Options
    {
        bool refuseHead = false;
        // PEM files of the server's certificate and key: https instead of http.
        QString certificate;
        QString key;
        // Added inside the server block.
        QString extra;
    };

    NginxServer(const QString &root, const Options &options)
        : m_tls(!options.certificate.isEmpty())
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        m_port = probe.serverPort();
        probe.close();
        const QString prefix = m_dir.path();
        const QString head = options.refuseHead ? "if ($request_method = HEAD) { return 405; }" : "";
        const QString tls = m_tls ? QStringLiteral(" ssl; ssl_certificate \"%1\"; ssl_certificate_key \"%2\"")
                                        .arg(options.certificate, options.key)
                                  : QString();
        writeFile(prefix + "/nginx.conf",
                  QStringLiteral("daemon off; master_process off; pid \"%1/nginx.pid\"; error_log \"%1/error.log\";\n"
                                 "events {}\nhttp { access_log off;\n"
                                 "client_body_temp_path \"%1/body\"; proxy_temp_path \"%1/proxy\";\n"
                                 "fastcgi_temp_path \"%1/fastcgi\"; uwsgi_temp_path \"%1/uwsgi\"; scgi_temp_path \"%1/scgi\";\n"
                                 "server { listen 127.0.0.1:%2%5; root \"%3\"; %6 location / { %4 } } }\n")
                      .arg(prefix)
                      .arg(m_port)
                      .arg(root, head, tls, options.extra)
                      .toUtf8());
        m_process.start(QStringLiteral("/usr/sbin/nginx"), { "-p", prefix, "-c", prefix + "/nginx.conf" });
        m_process.waitForStarted(5000);
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 10000 && m_process.state() == QProcess::Running) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_port);
            if (socket.waitForConnected(200)) {
                m_running = true;
                break;
            }
            QTest::qWait(50);
        }
    }
    ~NginxServer()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }
    Q_DISABLE_COPY_MOVE(NginxServer)

    bool isRunning() const { return m_running; }
    QByteArray errors() { return m_process.readAllStandardError() + readFile(m_dir.path() + "/error.log"); }
    QString url(const QString &path, const QString &host = QStringLiteral("127.0.0.1")) const
    {
        return QStringLiteral("%1://%2:%3%4").arg(m_tls ? "https" : "http", host).arg(m_port).arg(path);
    }
    quint16 port() const { return m_port; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    bool m_running = false;
    bool m_tls = false;
};

} // namespace KOVTest
