#pragma once

#include <QNetworkRequest>
#include <QObject>
#include <QUuid>

namespace KOV::Models {

/** One HTTP fetch into the cache folder, with its progress; resumable ones continue a partial file. */
class Download final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Download)
public:
    enum Process { QUEUED = 0, CHECKING = 1, DOWNLOADING = 2, FINISHED = 3 };
    Q_ENUM(Process)

    explicit Download(const QString &url, bool resumable, QObject *parent = nullptr);

    QUuid id() const { return m_id; }
    /** The link the download was made for: its identity, whichever mirror serves it now. */
    QUrl link() const { return m_link; }
    QNetworkRequest &request() { return m_request; }
    const QNetworkRequest &request() const { return m_request; }
    bool isResumable() const { return m_resumable; }

    QString fileName();
    /**
     * The cache file name of a URL: a short hash of the whole URL, then the last component of its decoded
     * path made safe ("download" when there is none). Two links never share a file.
     */
    static QString fileNameForUrl(const QUrl &url);
    /** The name older runs gave the cache file: the last component alone, which links could share. */
    static QString legacyFileNameForUrl(const QUrl &url);
    /** Whether a link may be fetched at all: http and https only. */
    static bool isSupportedUrl(const QUrl &url);
    /** "This link is not supported: ..." */
    static QString unsupportedLinkText(const QString &link);

    QString path() const { return m_path; }
    void setPath(const QString &path) { m_path = path; }

    qlonglong fileSize() const { return m_fileSize; }
    void setFileSize(qlonglong size);
    qlonglong currentSize() const { return m_currentSize; }
    void setCurrentSize(qlonglong size);

    Process process() const { return m_process; }
    void setProcess(Process process);

    void notifyState();
    /**
     * The server or the connection failed: `message` goes to log.txt, "Server Error" to the listeners, and
     * `reason` (the server's answer in words) is kept as the failure reason.
     */
    void raiseError(const QString &message, const QString &reason = QString());
    /** The archive that arrived is not the one the catalogue describes. */
    void raiseChecksumError();
    /**
     * A failure with a reason the user can act on (a full cache folder, a refused link, a compressed
     * archive): the listeners are told the reason itself.
     */
    void raiseFailure(const QString &reason);
    QString failureReason() const { return m_failureReason; }
    /** A transfer that would write more than this fails; 0 for no limit. */
    void setMaximumSize(qint64 bytes) { m_maximumSize = bytes; }
    qint64 maximumSize() const { return m_maximumSize; }

    /** What the catalogue says of the archive: its SHA-256 (hex) and size; empty and 0 when it says nothing.
     */
    void setExpected(const QByteArray &sha256, qint64 size);
    QByteArray expectedSha256() const { return m_expectedSha256; }
    qint64 expectedSize() const { return m_expectedSize; }
    /** Other places of the same archive, tried in order when the link fails. */
    void setMirrors(const QStringList &mirrors) { m_mirrors = mirrors; }
    QStringList mirrors() const { return m_mirrors; }
    /** Whether a mirror serves it now; the request then goes there. */
    bool isOnMirror() const { return m_mirror > 0; }
    /** Moves the request to the next mirror; false when none is left. */
    bool nextMirror();
    /** Whether the one fresh start after a mismatch was used. */
    bool isRetried() const { return m_retried; }
    void setRetried() { m_retried = true; }
    /** Stopped on request: no finished() and no error() follows. */
    bool isCancelled() const { return m_cancelled; }
    void setCancelled() { m_cancelled = true; }

signals:
    void fileSize(qlonglong size);
    void currentSize(qlonglong size);
    void finished(QString path);
    void error(QString error);
    void processChanged(Process process);

private:
    QNetworkRequest m_request;
    QUrl m_link;
    QStringList m_mirrors;
    int m_mirror = 0;
    Process m_process = QUEUED;
    QString m_fileName;
    qlonglong m_fileSize = 0;
    QUuid m_id;
    QString m_path;
    qlonglong m_currentSize = 0;
    bool m_resumable;
    QString m_failureReason;
    QByteArray m_expectedSha256;
    qint64 m_expectedSize = 0;
    qint64 m_maximumSize = 0;
    bool m_retried = false;
    bool m_cancelled = false;
};

} // namespace KOV::Models
