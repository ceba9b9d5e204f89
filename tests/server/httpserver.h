#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVector>

class QTcpServer;
class QTcpSocket;

namespace KOVTest {

/**
 * A small HTTP/1.1 server on the loopback interface for tests, benchmarks and the demo.
 * Serves files from a folder or from memory, with Content-Length, Last-Modified and
 * "Range: bytes=N-", and misbehaves on request, path by path.
 */
class HttpServer final : public QObject
{
    Q_OBJECT
public:
    struct Behaviour
    {
        bool omitContentLength = false; // also on GET: the body then ends with the connection
        bool omitLastModified = false;
        bool omitETag = false;
        bool ignoreRange = false; // a ranged GET gets the whole file with 200
        qint64 rangeStartShift = 0; // a ranged GET gets a 206 that starts this many bytes off
        int headStatus = 0; // answer HEAD with this status instead
        int errorStatus = 0; // answer HEAD and GET with this status and an HTML body
        int rangeStatus = 0; // answer a ranged GET with this status (416, say)
        qint64 dropAfter = -1; // close the connection after this many body bytes
        qint64 stallAfter = -1; // send nothing more after this many body bytes, the connection kept open
        QString redirectTo; // answer 302 to this path
        int trickleBytes = 0; // send the body this many bytes at a time ...
        int trickleIntervalMs = 0; // ... every so many milliseconds
        QByteArray extraHeaders; // added to a file's answer ("Content-Encoding: gzip\r\n")
        // Answer GET (and HEAD, when rawForHead) with exactly these bytes, status line and headers
        // included, then close; trickle, drop and stall apply to them as to a body.
        QByteArray raw;
        bool rawForHead = false;
    };

    struct Request
    {
        QByteArray method;
        QString path;
        QByteArray range;
    };

    explicit HttpServer(QObject *parent = nullptr);
    ~HttpServer() override;

    bool listen(quint16 port = 0);
    quint16 port() const;
    QString url(const QString &path) const;

    void setRoot(const QString &folder);
    void addFile(const QString &path, const QByteArray &content);
    void setBehaviour(const QString &path, const Behaviour &behaviour);
    void clearBehaviours();

    QVector<Request> requests() const { return m_requests; }
    QStringList requestLines() const; // "GET /path bytes=10-", for compact checks
    void clearRequests() { m_requests.clear(); }

private:
    struct Connection;

    void onNewConnection();
    void readRequests(Connection *connection);
    void respond(Connection *connection, const QByteArray &method, const QString &path,
                 const QHash<QByteArray, QByteArray> &headers);
    void startBody(Connection *connection, const Behaviour &behaviour);
    void sendMore(Connection *connection);
    void finishResponse(Connection *connection);

    QTcpServer *m_server;
    QString m_root;
    QHash<QString, QByteArray> m_memoryFiles;
    QHash<QString, Behaviour> m_behaviours;
    QVector<Request> m_requests;
};

} // namespace KOVTest
