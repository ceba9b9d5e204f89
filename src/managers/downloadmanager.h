#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSharedPointer>
#include <QUrl>
#include <QUuid>
#include <QVector>

#include "managers/downloaddatabase.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace KOV {
class Settings;
namespace Models {
class Download;
}
} // namespace KOV

namespace KOV::Managers {

/** Runs every HTTP fetch of the program into the cache folder and keeps partial archives resumable. */
class DownloadManager final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DownloadManager)
public:
    DownloadManager(QSharedPointer<KOV::Settings> settings, QSharedPointer<QNetworkAccessManager> network,
                    QObject *parent = nullptr);
    ~DownloadManager() override;

    QSharedPointer<Models::Download> find(const QString &url) const;
    void add(QSharedPointer<Models::Download> download, bool deferStart = false);
    void startPending();
    void removeDatabase();
    /** Stops a download; what arrived stays for a later resume. Neither finished() nor error() follows. */
    void cancel(const QSharedPointer<Models::Download> &download);
    /** Whether an archive is on its way (icons and catalogues do not count). */
    bool hasRunningDownloads() const;
    /** A transfer that receives nothing for this long fails; 30 s unless a test sets less. */
    void setTransferTimeout(int milliseconds) { m_transferTimeout = milliseconds; }
    /** A transfer slower than `bytesPerSecond` over `milliseconds` fails too; 1 KiB/s over 60 s by default. */
    void setSpeedLimit(int bytesPerSecond, int milliseconds)
    {
        m_speedLimit = bytesPerSecond;
        m_speedTime = milliseconds;
    }

    /** How much of a reply Qt may hold before the body is written out. */
    static constexpr qint64 readBufferSize = 1024 * 1024;

private:
    struct Transfer;

    void adoptLegacyFile(Models::Download &download);
    void checkSize(const QSharedPointer<Models::Download> &download);
    void transfer(const QSharedPointer<Models::Download> &download);
    /** How the bytes of a reply are taken, from its status and headers; may fail the transfer. */
    void decide(const QSharedPointer<Transfer> &transfer);
    void writeAvailable(QSharedPointer<Transfer> transfer);
    void checkSpeed(const QSharedPointer<Transfer> &transfer);
    /** Notes why the transfer failed and aborts its reply; conclude() tells the listeners. */
    void fail(const QSharedPointer<Transfer> &transfer, const QString &failure, const QString &reason);
    void failOnDisk(const QSharedPointer<Transfer> &transfer);
    /** The one place where a finished reply's end is told, after everything about it is settled. */
    void conclude(const QSharedPointer<Transfer> &transfer);
    static QString tooLarge(qint64 limit);
    /** What the server answered, or what went wrong on the way, in words. */
    static QString describe(const QNetworkReply &reply);
    void finish(const QSharedPointer<Models::Download> &download);
    void restartOrFail(const QSharedPointer<Models::Download> &download);
    /** Moves a failed download to its next mirror and starts it there; false when none is left. */
    bool tryNextMirror(const QSharedPointer<Models::Download> &download, const QString &why);
    void resumeFrom(const QSharedPointer<Models::Download> &download, qint64 size);
    void removeFromList(const QSharedPointer<Models::Download> &download);
    QNetworkReply *start(const QSharedPointer<Models::Download> &download, bool head);

    QSharedPointer<KOV::Settings> m_settings;
    QSharedPointer<QNetworkAccessManager> m_network;
    QString m_cacheFolder;
    // Listed downloads by id and by URL; those waiting for their turn, in order; the cache files being
    // written.
    QHash<QUuid, QSharedPointer<Models::Download>> m_downloads;
    QHash<QUrl, QSharedPointer<Models::Download>> m_byUrl;
    QVector<QSharedPointer<Models::Download>> m_waiting;
    QHash<QString, QUuid> m_busyFiles;
    DownloadDatabase m_records;
    // The reply of each download on the wire, for cancel().
    QHash<const Models::Download *, QPointer<QNetworkReply>> m_replies;
    int m_transferTimeout = 30000;
    int m_speedLimit = 1024;
    int m_speedTime = 60000;
};

} // namespace KOV::Managers
