#include "models/download.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QFileInfo>

#include "app/logging.h"

namespace KOV::Models {

Download::Download(const QString &url, bool resumable, QObject *parent)
    : QObject(parent)
    , m_request(QUrl(url, QUrl::TolerantMode))
    , m_link(m_request.url())
    , m_id(QUuid::createUuid())
    , m_resumable(resumable)
{
    // Follow redirects, but never from https to http (what the older "follow redirects" switch meant).
    m_request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                           QNetworkRequest::NoLessSafeRedirectPolicy);
    // A compressed answer cannot continue a partial file: archives travel as they are.
    if (resumable)
        m_request.setRawHeader("Accept-Encoding", "identity");
}

QString Download::fileName()
{
    if (m_fileName.isEmpty())
        m_fileName = fileNameForUrl(m_link);
    return m_fileName;
}

bool Download::nextMirror()
{
    while (m_mirror < m_mirrors.size()) {
        const QUrl url(m_mirrors.at(m_mirror++), QUrl::TolerantMode);
        if (isSupportedUrl(url)) {
            m_request.setUrl(url);
            // Each mirror gets its one fresh start after a mismatch, and no validator of another server.
            m_retried = false;
            m_request.setRawHeader("Range", QByteArray());
            m_request.setRawHeader("If-Range", QByteArray());
            m_process = QUEUED;
            return true;
        }
        qCWarning(lcDownload) << "Mirror skipped, not an http or https link : " << url.toString();
    }
    return false;
}

QString Download::legacyFileNameForUrl(const QUrl &url)
{
    const QString name = QFileInfo(url.path(QUrl::FullyDecoded)).fileName();
    return name.isEmpty() ? QStringLiteral("download") : name;
}

QString Download::fileNameForUrl(const QUrl &url)
{
    // Only plain characters from the server's name: no separators, no ".." and no hidden file.
    QString readable;
    for (const QChar c : QFileInfo(url.path(QUrl::FullyDecoded)).fileName().left(80)) {
        const bool plain = (c.isLetterOrNumber() && c.unicode() < 128) || c == QLatin1Char('.')
                           || c == QLatin1Char('-') || c == QLatin1Char('_') || c == QLatin1Char('+');
        readable += plain ? c : QLatin1Char('_');
    }
    while (readable.startsWith(QLatin1Char('.')))
        readable.remove(0, 1);
    if (readable.isEmpty())
        readable = QStringLiteral("download");
    const QByteArray hash
        = QCryptographicHash::hash(url.toString(QUrl::FullyEncoded).toUtf8(), QCryptographicHash::Sha256);
    return QString::fromLatin1(hash.toHex().left(12)) + QLatin1Char('-') + readable;
}

bool Download::isSupportedUrl(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty()
           && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

QString Download::unsupportedLinkText(const QString &link)
{
    return tr("This link is not supported: %1").arg(link);
}

void Download::setFileSize(qlonglong size)
{
    m_fileSize = size;
    emit fileSize(size);
}

void Download::setCurrentSize(qlonglong size)
{
    m_currentSize = size;
    emit currentSize(size);
}

void Download::setProcess(Process process)
{
    m_process = process;
    emit processChanged(process);
    if (process == FINISHED)
        emit finished(m_path);
}

void Download::notifyState()
{
    if (m_fileSize > 0)
        emit fileSize(m_fileSize);
    emit processChanged(m_process);
}

void Download::raiseFailure(const QString &reason)
{
    qCWarning(lcDownload) << "Download Error - " << m_request.url().toString() << " : " << reason;
    m_failureReason = reason;
    emit error(reason);
}

void Download::setExpected(const QByteArray &sha256, qint64 size)
{
    m_expectedSha256 = sha256.toLower();
    m_expectedSize = size;
}

void Download::raiseChecksumError()
{
    m_failureReason = tr("Checksum mismatch");
    qCWarning(lcDownload) << "Download Error - " << m_request.url().toString() << " : " << m_failureReason;
    emit error(m_failureReason);
}

void Download::raiseError(const QString &message, const QString &reason)
{
    m_failureReason = reason;
    qCWarning(lcDownload) << (m_process == CHECKING ? "Header Error - " : "Download Error - ")
                          << m_request.url().toString() << " : " << message;
    emit error(tr("Server Error"));
}

} // namespace KOV::Models
