#include "httpserver.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QLocale>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace KOVTest {

namespace {

constexpr qint64 chunkSize = 256 * 1024;
constexpr qint64 socketBacklog = 1024 * 1024;

QByteArray httpDate(const QDateTime &time)
{
    return QLocale::c().toString(time.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'")).toLatin1();
}

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 416:
        return "Range Not Satisfiable";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

} // namespace

// Lives as the socket's child, so that nothing outlives the connection it belongs to.
struct HttpServer::Connection : QObject
{
    explicit Connection(QTcpSocket *owner)
        : QObject(owner)
        , socket(owner)
    {
    }

    QTcpSocket *socket;
    QByteArray buffer;
    bool busy = false;
    bool closeAfter = false;
    // The body being sent: from memory or from a file, [offset, end).
    QByteArray memory;
    std::unique_ptr<QFile> file;
    qint64 offset = 0;
    qint64 end = 0;
    qint64 sent = 0;
    qint64 dropAfter = -1;
    qint64 stallAfter = -1;
    int trickleBytes = 0;
    QTimer *trickle = nullptr;
};

HttpServer::HttpServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &HttpServer::onNewConnection);
}

HttpServer::~HttpServer() = default;

bool HttpServer::listen(quint16 port)
{
    return m_server->listen(QHostAddress::LocalHost, port);
}

quint16 HttpServer::port() const
{
    return m_server->serverPort();
}

QString HttpServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
}

void HttpServer::setRoot(const QString &folder)
{
    m_root = folder;
}

void HttpServer::addFile(const QString &path, const QByteArray &content)
{
    m_memoryFiles.insert(path, content);
}

void HttpServer::setBehaviour(const QString &path, const Behaviour &behaviour)
{
    m_behaviours.insert(path, behaviour);
}

void HttpServer::clearBehaviours()
{
    m_behaviours.clear();
}

QStringList HttpServer::requestLines() const
{
    QStringList lines;
    for (const Request &request : m_requests) {
        QString line = QString::fromLatin1(request.method) + QLatin1Char(' ') + request.path;
        if (!request.range.isEmpty())
            line += QLatin1Char(' ') + QString::fromLatin1(request.range);
        lines << line;
    }
    return lines;
}

void HttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        auto *connection = new Connection(socket);
        connect(socket, &QTcpSocket::readyRead, connection, [this, connection] { readRequests(connection); });
        connect(socket, &QTcpSocket::bytesWritten, connection, [this, connection] {
            if (!connection->trickle)
                sendMore(connection);
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void HttpServer::readRequests(Connection *connection)
{
    connection->buffer += connection->socket->readAll();
    while (!connection->busy) {
        const int headerEnd = connection->buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = connection->buffer.left(headerEnd).split('\n');
        connection->buffer.remove(0, headerEnd + 4);

        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        if (requestLine.size() < 2) {
            connection->socket->disconnectFromHost();
            return;
        }
        QHash<QByteArray, QByteArray> headers;
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines.at(i).indexOf(':');
            if (colon > 0)
                headers.insert(lines.at(i).left(colon).trimmed().toLower(),
                               lines.at(i).mid(colon + 1).trimmed());
        }
        const QString path = QUrl::fromPercentEncoding(requestLine.at(1).split('?').first());
        m_requests.append({ requestLine.at(0), path, headers.value("range") });
        respond(connection, requestLine.at(0), path, headers);
    }
}

void HttpServer::respond(Connection *connection, const QByteArray &method, const QString &path,
                         const QHash<QByteArray, QByteArray> &headers)
{
    const Behaviour behaviour = m_behaviours.value(path);
    const bool head = method == "HEAD";
    QTcpSocket *socket = connection->socket;
    connection->busy = true;
    connection->closeAfter = headers.value("connection").toLower() == "close";

    auto sendSimple = [&](int status, const QByteArray &extraHeaders, const QByteArray &body) {
        QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
        response += "Content-Length: " + QByteArray::number(body.size()) + "\r\n" + extraHeaders + "\r\n";
        socket->write(response);
        if (!head)
            socket->write(body);
        finishResponse(connection);
    };

    if (!behaviour.raw.isEmpty() && (!head || behaviour.rawForHead)) {
        connection->memory = behaviour.raw;
        connection->offset = 0;
        connection->end = behaviour.raw.size();
        connection->sent = 0;
        connection->closeAfter = true;
        startBody(connection, behaviour);
        return;
    }
    if (!behaviour.redirectTo.isEmpty()) {
        sendSimple(302, "Location: " + url(behaviour.redirectTo).toUtf8() + "\r\n", QByteArray());
        return;
    }
    const QByteArray errorPage = "<html><body><h1>Something went wrong</h1></body></html>";
    if (behaviour.errorStatus > 0) {
        sendSimple(behaviour.errorStatus, "Content-Type: text/html\r\n", errorPage);
        return;
    }
    if (head && behaviour.headStatus > 0) {
        sendSimple(behaviour.headStatus, "Content-Type: text/html\r\n", errorPage);
        return;
    }

    qint64 size = -1;
    QDateTime modified = QDateTime(QDate(2026, 7, 1), QTime(10, 0), Qt::UTC);
    const auto memory = m_memoryFiles.constFind(path);
    std::unique_ptr<QFile> file;
    QByteArray etag;
    if (memory != m_memoryFiles.constEnd()) {
        size = memory->size();
        etag = '"' + QCryptographicHash::hash(*memory, QCryptographicHash::Sha1).toHex().left(16) + '"';
    } else if (!m_root.isEmpty() && !path.contains(QStringLiteral(".."))) {
        const QFileInfo info(m_root + path);
        if (info.isFile()) {
            file = std::make_unique<QFile>(info.filePath());
            if (file->open(QIODevice::ReadOnly)) {
                size = info.size();
                modified = info.lastModified();
                etag = '"' + QByteArray::number(modified.toMSecsSinceEpoch(), 16) + '-'
                       + QByteArray::number(size, 16) + '"';
            }
        }
    }
    if (size < 0) {
        sendSimple(404, "Content-Type: text/html\r\n", errorPage);
        return;
    }

    qint64 start = 0;
    int status = 200;
    const QByteArray range = headers.value("range");
    // A range only for the file the client names; another one goes out whole.
    const QByteArray ifRange = headers.value("if-range");
    const bool sameFile = ifRange.isEmpty() || (!behaviour.omitETag && ifRange == etag)
                          || (!behaviour.omitLastModified && ifRange == httpDate(modified));
    if (!head && range.startsWith("bytes=") && range.endsWith('-') && !behaviour.ignoreRange && sameFile) {
        bool ok = false;
        start = range.mid(6, range.size() - 7).toLongLong(&ok);
        if (behaviour.rangeStatus > 0 || !ok || start >= size) {
            const int rangeStatus = behaviour.rangeStatus > 0 ? behaviour.rangeStatus : 416;
            sendSimple(rangeStatus, "Content-Range: bytes */" + QByteArray::number(size) + "\r\n",
                       QByteArray());
            return;
        }
        start = qBound<qint64>(0, start + behaviour.rangeStartShift, size - 1);
        status = 206;
    }

    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    response += "Content-Type: application/octet-stream\r\nAccept-Ranges: bytes\r\n";
    if (!behaviour.omitLastModified)
        response += "Last-Modified: " + httpDate(modified) + "\r\n";
    if (!behaviour.omitETag)
        response += "ETag: " + etag + "\r\n";
    if (status == 206) {
        response += "Content-Range: bytes " + QByteArray::number(start) + '-' + QByteArray::number(size - 1)
                    + '/' + QByteArray::number(size) + "\r\n";
    }
    response += behaviour.extraHeaders;
    if (!behaviour.omitContentLength) {
        response += "Content-Length: " + QByteArray::number(size - start) + "\r\n";
    } else if (!head) {
        response += "Connection: close\r\n";
        connection->closeAfter = true;
    }
    response += "\r\n";
    socket->write(response);
    if (head) {
        finishResponse(connection);
        return;
    }

    if (memory != m_memoryFiles.constEnd())
        connection->memory = *memory;
    connection->file = std::move(file);
    if (connection->file)
        connection->file->seek(start);
    connection->offset = start;
    connection->end = size;
    connection->sent = 0;
    startBody(connection, behaviour);
}

void HttpServer::startBody(Connection *connection, const Behaviour &behaviour)
{
    connection->dropAfter = behaviour.dropAfter;
    connection->stallAfter = behaviour.stallAfter;
    connection->trickleBytes = behaviour.trickleBytes;
    if (behaviour.trickleBytes > 0) {
        connection->trickle = new QTimer(connection);
        connect(connection->trickle, &QTimer::timeout, connection,
                [this, connection] { sendMore(connection); });
        connection->trickle->start(qMax(1, behaviour.trickleIntervalMs));
    }
    sendMore(connection);
}

void HttpServer::sendMore(Connection *connection)
{
    QTcpSocket *socket = connection->socket;
    if (!connection->busy)
        return;
    while (connection->offset < connection->end && socket->bytesToWrite() < socketBacklog) {
        qint64 length = qMin(chunkSize, connection->end - connection->offset);
        if (connection->trickleBytes > 0)
            length = qMin<qint64>(length, connection->trickleBytes);
        if (connection->dropAfter >= 0)
            length = qMin(length, connection->dropAfter - connection->sent);
        // A server that hangs: the rest never comes.
        if (connection->stallAfter >= 0 && connection->stallAfter - connection->sent <= 0)
            return;
        if (connection->stallAfter >= 0)
            length = qMin(length, connection->stallAfter - connection->sent);
        if (length <= 0)
            break;
        const QByteArray chunk = connection->file
                                     ? connection->file->read(length)
                                     : connection->memory.mid(int(connection->offset), int(length));
        if (chunk.isEmpty())
            break;
        socket->write(chunk);
        connection->offset += chunk.size();
        connection->sent += chunk.size();
        if (connection->trickleBytes > 0)
            return;
    }
    if (connection->dropAfter >= 0 && connection->sent >= connection->dropAfter) {
        // A connection lost in the middle of the body.
        connection->busy = false;
        socket->disconnectFromHost();
        return;
    }
    if (connection->offset >= connection->end)
        finishResponse(connection);
}

void HttpServer::finishResponse(Connection *connection)
{
    if (connection->trickle) {
        // This may run inside the timer's own timeout.
        connection->trickle->stop();
        connection->trickle->deleteLater();
        connection->trickle = nullptr;
    }
    connection->file.reset();
    connection->memory.clear();
    connection->busy = false;
    if (connection->closeAfter) {
        connection->socket->disconnectFromHost();
        return;
    }
    if (!connection->buffer.isEmpty())
        QTimer::singleShot(0, connection, [this, connection] { readRequests(connection); });
}

} // namespace KOVTest
