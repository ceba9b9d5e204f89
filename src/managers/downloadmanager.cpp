#include "managers/downloadmanager.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QSet>
#include <QSslError>
#include <QTimer>

#include <algorithm>
#include <utility>

#include "app/environment.h"
#include "app/logging.h"
#include "app/settings.h"
#include "managers/httpresume.h"
#include "managers/sha256.h"
#include "models/download.h"

namespace KOV::Managers {

using Models::Download;

struct DownloadManager::Transfer
{
    enum Mode { Undecided, Append, Replace, Discard };

    QSharedPointer<Download> download;
    QPointer<QNetworkReply> reply;
    QScopedPointer<QFile> file;
    Mode mode = Undecided;
    qint64 rangeStart = -1;
    // Why it failed, for log.txt; `reason` too when it is the user's to act on (else "Server Error").
    QString failure;
    QString reason;
    // The server's answer in words, for the user, when it was the server's.
    QString serverReason;
    bool concluded = false;
    // Fed as the bytes arrive (and with the part already on disk when resuming): no extra pass.
    Sha256 hash;
    // The speed check: bytes read, and those read when the current window began.
    QScopedPointer<QTimer> speedCheck;
    QElapsedTimer window;
    qint64 received = 0;
    qint64 windowStart = 0;
};

DownloadManager::DownloadManager(QSharedPointer<KOV::Settings> settings,
                                 QSharedPointer<QNetworkAccessManager> network, QObject *parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_network(std::move(network))
    , m_cacheFolder(m_settings->current().cache.value)
{
    ensureDir(m_cacheFolder, true);
    m_records.open(dataDir() + QStringLiteral("download.db"));
}

void DownloadManager::removeDatabase()
{
    m_records.remove();
}

DownloadManager::~DownloadManager() = default;

QSharedPointer<Download> DownloadManager::find(const QString &url) const
{
    return m_byUrl.value(QUrl(url, QUrl::TolerantMode));
}

void DownloadManager::add(QSharedPointer<Download> download, bool deferStart)
{
    if (m_downloads.contains(download->id()))
        return;
    if (download->path().isEmpty())
        download->setPath(m_cacheFolder + QDir::separator() + download->fileName());
    m_downloads.insert(download->id(), download);
    // The first of two downloads of one URL is the one found.
    if (!m_byUrl.contains(download->link()))
        m_byUrl.insert(download->link(), download);
    if (!Download::isSupportedUrl(download->link())) {
        // Nothing is fetched; told from the event loop, as every other end is.
        const QString link = download->link().toString();
        QTimer::singleShot(0, this, [this, download, link] {
            if (!m_downloads.contains(download->id()) || download->isCancelled())
                return;
            download->raiseFailure(Download::unsupportedLinkText(link));
            finish(download);
        });
        return;
    }
    if (download->isResumable())
        adoptLegacyFile(*download);
    m_waiting.append(download);
    if (!deferStart)
        startPending();
}

void DownloadManager::adoptLegacyFile(Download &download)
{
    // A partial archive of an older run, named by the link's last component alone, is continued under
    // its new name when this link alone wrote it.
    const QUrl url = download.link();
    const QString legacy = m_cacheFolder + QDir::separator() + Download::legacyFileNameForUrl(url);
    if (QFileInfo::exists(download.path()) || !QFileInfo(legacy).isFile() || !m_records.ownsLegacyFile(url))
        return;
    if (QFile::rename(legacy, download.path()))
        qCInfo(lcDownload) << "Continuing an older partial file : " << legacy << " as " << download.path();
}

void DownloadManager::startPending()
{
    // Only the downloads that wait are looked at, so that a list of thousands of icons costs no more per
    // addition; one transfer at a time writes a cache file.
    const QVector<QSharedPointer<Download>> waiting = std::exchange(m_waiting, {});
    for (const QSharedPointer<Download> &download : waiting) {
        if (download->process() != Download::QUEUED || !m_downloads.contains(download->id()))
            continue;
        if (m_busyFiles.contains(download->path())) {
            m_waiting.append(download);
            continue;
        }
        m_busyFiles.insert(download->path(), download->id());
        if (download->isResumable())
            checkSize(download);
        else
            transfer(download);
    }
}

void DownloadManager::resumeFrom(const QSharedPointer<Download> &download, qint64 size)
{
    download->request().setRawHeader("Range", "bytes=" + QByteArray::number(size) + '-');
    // The server sends the rest only of the file it had then, else the whole file anew. A mirror knows
    // nothing of another server's validator: the checksum decides there.
    if (!download->isOnMirror())
        download->request().setRawHeader("If-Range", m_records.validator(download->link().toString()));
}

void DownloadManager::checkSize(const QSharedPointer<Download> &download)
{
    download->setProcess(Download::CHECKING);
    QPointer<QNetworkReply> reply = start(download, true);
    connect(reply, &QNetworkReply::finished, this, [this, download, reply] {
        if (!reply)
            return;
        reply->deleteLater();
        if (download->isCancelled())
            return;
        const QString path = download->path();
        const QString url = download->request().url().toString();
        // A partial file is only continued by the URL that wrote it.
        if (QFileInfo(path).isFile() && !m_records.ownsFile(download->link()))
            QFile::remove(path);
        const QByteArray stored = download->isOnMirror() ? QByteArray() : m_records.validator(url);
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();

        if (reply->error() != QNetworkReply::NoError) {
            // A server that does not do HEAD: the GET and its Content-Range decide instead.
            if (status == 405 || status == 501) {
                qCWarning(lcDownload) << "HEAD refused (" << status << "), asking with GET : " << url;
                const QFileInfo file(path);
                if (file.isFile() && file.size() > 0 && !stored.isEmpty())
                    resumeFrom(download, file.size());
                else if (file.isFile())
                    QFile::remove(path);
                transfer(download);
                return;
            }
            // No GET after a failed HEAD: the error is the end of this download, or of this mirror.
            const QString error = reply->errorString();
            qCWarning(lcDownload) << "Network Error : " << error;
            if (tryNextMirror(download, error))
                return;
            download->raiseError(error, describe(*reply));
            finish(download);
            return;
        }

        // An error page carries a length too, but not the archive's.
        const QByteArray validator = HttpResume::validatorOf(*reply);
        const bool known = reply->hasRawHeader("Content-Length") && !validator.isEmpty();
        const qlonglong remote = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        // Another file on the server than the one the partial file began: never continued.
        if (QFileInfo(path).isFile() && !stored.isEmpty() && !validator.isEmpty() && stored != validator) {
            qCWarning(lcDownload) << "The file changed on the server, starting afresh : " << url;
            QFile::remove(path);
        }
        if (known && remote >= 0) {
            download->setFileSize(remote);
            const QFileInfo file(path);
            if (file.isFile()) {
                if (file.size() == remote) {
                    // Already whole: checked once here, as nothing more arrives.
                    Sha256 hash;
                    if (!download->expectedSha256().isEmpty())
                        hash.addFile(path);
                    if (HttpResume::isExpected(*download, remote, hash.hexResult()))
                        finish(download);
                    else
                        restartOrFail(download);
                    return;
                }
                // Rows of older runs have no validator: they resume as they always did.
                if (file.size() < remote)
                    resumeFrom(download, file.size());
                else
                    QFile::remove(path);
            }
        }
        transfer(download);
    });
}

void DownloadManager::transfer(const QSharedPointer<Download> &download)
{
    auto state = QSharedPointer<Transfer>::create();
    state->download = download;
    state->file.reset(new QFile(download->path()));
    if (download->process() == Download::QUEUED && QFileInfo(download->path()).isFile())
        QFile::remove(download->path());
    if (download->request().hasRawHeader("Range"))
        state->rangeStart = QFileInfo(download->path()).size();
    m_records.claimFile(download->link(), download->isResumable());

    download->setProcess(Download::DOWNLOADING);
    QNetworkReply *reply = start(download, false);
    reply->setReadBufferSize(readBufferSize);
    state->reply = reply;

    // Each handler holds the transfer for as long as it runs: the reply may go while it does.
    connect(reply, &QNetworkReply::readyRead, this, [this, state] { writeAvailable(state); });
    connect(reply, &QNetworkReply::downloadProgress, this, [state](qint64, qint64 total) {
        const QSharedPointer<Transfer> hold = state;
        // The length of an error page is not the size of the file.
        if (!hold->failure.isEmpty() || hold->mode == Transfer::Discard || !hold->reply
            || hold->reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() >= 400)
            return;
        Download &download = *hold->download;
        // The length of a 206 is what is left, not the file's: Content-Range gives that.
        if (download.fileSize() == 0
            && hold->reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 206 && total > 0)
            download.setFileSize(total);
        const qlonglong onDisk
            = hold->file->isOpen() ? hold->file->size() : QFileInfo(download.path()).size();
        download.setCurrentSize(onDisk);
    });
    connect(reply, &QNetworkReply::errorOccurred, this, [state](QNetworkReply::NetworkError) {
        // Only noted: the end is told once, when the reply has finished.
        if (state->failure.isEmpty() && state->reply && !state->download->isCancelled()) {
            state->failure = state->reply->errorString();
            state->serverReason = describe(*state->reply);
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, state] { conclude(state); });

    // Like curl's --speed-limit and --speed-time: a trickle that never stops is a stall too.
    if (m_speedLimit > 0 && m_speedTime > 0) {
        state->speedCheck.reset(new QTimer);
        state->speedCheck->setInterval(qBound(10, m_speedTime / 4, 1000));
        state->window.start();
        QWeakPointer<Transfer> weak = state;
        connect(state->speedCheck.data(), &QTimer::timeout, this, [this, weak] {
            if (const QSharedPointer<Transfer> transfer = weak.toStrongRef())
                checkSpeed(transfer);
        });
        state->speedCheck->start();
    }
}

void DownloadManager::checkSpeed(const QSharedPointer<Transfer> &transfer)
{
    if (transfer->window.elapsed() < m_speedTime)
        return;
    const qint64 bytes = transfer->received - transfer->windowStart;
    if (bytes * 1000 < qint64(m_speedLimit) * transfer->window.elapsed()) {
        if (transfer->failure.isEmpty())
            transfer->serverReason = tr("the server sent less than %1 a second for %2 seconds")
                                         .arg(QLocale().formattedDataSize(m_speedLimit, 0))
                                         .arg(m_speedTime / 1000);
        fail(transfer,
             QStringLiteral("%1 bytes in %2 ms, slower than %3 bytes/s")
                 .arg(bytes)
                 .arg(transfer->window.elapsed())
                 .arg(m_speedLimit),
             QString());
        return;
    }
    transfer->windowStart = transfer->received;
    transfer->window.restart();
}

void DownloadManager::fail(const QSharedPointer<Transfer> &transfer, const QString &failure,
                           const QString &reason)
{
    if (transfer->failure.isEmpty()) {
        transfer->failure = failure;
        transfer->reason = reason;
    }
    transfer->mode = Transfer::Discard;
    // abort() finishes the reply at once, and conclude() tells the end; the caller touches nothing more.
    if (transfer->reply && transfer->reply->isRunning())
        transfer->reply->abort();
}

void DownloadManager::decide(const QSharedPointer<Transfer> &transfer)
{
    QNetworkReply *reply = transfer->reply;
    Download &download = *transfer->download;
    // Only bytes that belong at the end of the local file may go there.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400 || reply->error() != QNetworkReply::NoError) {
        transfer->mode = Transfer::Discard;
        return;
    }
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (download.isResumable() && !encoding.isEmpty() && encoding != "identity") {
        fail(transfer, QStringLiteral("Content-Encoding %1").arg(QString::fromLatin1(encoding)),
             tr("The server compressed the archive in transit."));
        return;
    }
    qint64 total = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (status == 206) {
        const QByteArray range = reply->rawHeader("Content-Range");
        // A 206 to a plain GET is the file only when it starts at its first byte.
        if (HttpResume::contentRangeStart(range) != qMax<qint64>(0, transfer->rangeStart)) {
            if (transfer->failure.isEmpty())
                transfer->serverReason = tr("the server sent another part of the file than was asked for");
            fail(transfer,
                 QStringLiteral("Content-Range %1 does not continue a file of %2 bytes")
                     .arg(QString::fromLatin1(range))
                     .arg(qMax<qint64>(0, transfer->rangeStart)),
                 QString());
            return;
        }
        transfer->mode = transfer->rangeStart < 0 ? Transfer::Replace : Transfer::Append;
        total = HttpResume::contentRangeTotal(range);
        if (download.fileSize() == 0 && total > 0)
            download.setFileSize(total);
    } else {
        transfer->mode = Transfer::Replace;
    }
    if (download.maximumSize() > 0 && total > download.maximumSize()) {
        fail(transfer, QStringLiteral("%1 bytes announced, at most %2 taken").arg(total).arg(download.maximumSize()),
             tooLarge(download.maximumSize()));
        return;
    }
    // A mirror's validator says nothing of the link's server: a later run continues without one.
    if (download.isResumable())
        m_records.recordValidator(download.link().toString(),
                                  download.isOnMirror() ? QByteArray() : HttpResume::validatorOf(*reply));
}

QString DownloadManager::describe(const QNetworkReply &reply)
{
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400)
        return tr("the server answered %1 %2")
            .arg(status)
            .arg(reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
    // Qt's transfer time-out aborts the reply: it is no cancel of the user's.
    if (reply.error() == QNetworkReply::OperationCanceledError)
        return tr("the server sent nothing for too long");
    return reply.errorString();
}

QString DownloadManager::tooLarge(qint64 limit)
{
    return tr("The file is larger than %1.").arg(QLocale().formattedDataSize(limit, 0));
}

void DownloadManager::writeAvailable(QSharedPointer<Transfer> transfer)
{
    if (transfer->concluded || !transfer->reply)
        return;
    if (transfer->mode == Transfer::Undecided)
        decide(transfer);
    if (transfer->concluded || !transfer->reply)
        return;
    QNetworkReply &reply = *transfer->reply;
    if (transfer->mode == Transfer::Discard) {
        // An aborted reply is closed: nothing is left to drain.
        if (reply.isOpen())
            transfer->received += reply.readAll().size();
        return;
    }
    Download &download = *transfer->download;
    if (!transfer->file->isOpen()) {
        const QIODevice::OpenMode mode = transfer->mode == Transfer::Append
                                             ? QIODevice::WriteOnly | QIODevice::Append
                                             : QIODevice::WriteOnly | QIODevice::Truncate;
        if (QFileInfo(download.path()).isDir() || !transfer->file->open(mode)) {
            failOnDisk(transfer);
            return;
        }
        if (transfer->mode == Transfer::Append && !download.expectedSha256().isEmpty())
            transfer->hash.addFile(download.path());
    }
    while (reply.bytesAvailable() > 0) {
        const QByteArray chunk = reply.read(qMin<qint64>(reply.bytesAvailable(), readBufferSize));
        transfer->received += chunk.size();
        if (download.maximumSize() > 0 && transfer->file->size() + chunk.size() > download.maximumSize()) {
            fail(transfer, QStringLiteral("more than %1 bytes arrived").arg(download.maximumSize()),
                 tooLarge(download.maximumSize()));
            return;
        }
        if (transfer->file->write(chunk) != chunk.size()) {
            failOnDisk(transfer);
            return;
        }
        if (!download.expectedSha256().isEmpty())
            transfer->hash.addData(chunk);
    }
    // downloadProgress() comes at most every 100 ms: the last bytes before a pause would go unseen.
    download.setCurrentSize(transfer->file->size());
}

void DownloadManager::failOnDisk(const QSharedPointer<Transfer> &transfer)
{
    // What reached the disk stays for a later resume; the rest of the answer is not wanted.
    const QString path = QDir::cleanPath(transfer->file->fileName());
    const QString folder = QFileInfo(path).isDir() ? path : m_cacheFolder;
    fail(transfer, QStringLiteral("Cannot write : %1 : %2").arg(path, transfer->file->errorString()),
         writeFailureReason(folder));
}

void DownloadManager::conclude(const QSharedPointer<Transfer> &transfer)
{
    if (transfer->concluded)
        return;
    if (transfer->reply) {
        writeAvailable(transfer);
        transfer->concluded = true;
        transfer->reply->deleteLater();
        transfer->reply = nullptr;
    }
    transfer->concluded = true;
    transfer->speedCheck.reset();
    Download &download = *transfer->download;
    if (transfer->file->isOpen()) {
        if (!transfer->file->flush() && transfer->failure.isEmpty()) {
            transfer->failure = transfer->file->errorString();
            transfer->reason = writeFailureReason(m_cacheFolder);
        }
        transfer->file->close();
    }
    transfer->file.reset();
    // Asked to stop: what arrived stays for the next try, and nobody is told anything.
    if (download.isCancelled())
        return;
    // A short answer is not the archive, whatever the connection said about it.
    const qint64 onDisk = QFileInfo(download.path()).size();
    if (transfer->failure.isEmpty() && download.isResumable() && download.fileSize() > 0
        && onDisk != download.fileSize())
        transfer->failure = QStringLiteral("%1 of %2 bytes arrived").arg(onDisk).arg(download.fileSize());

    // Nothing above told anybody anything: from here on the listeners may do what they like.
    const QSharedPointer<Download> keep = transfer->download;
    if (!transfer->failure.isEmpty()) {
        // What a catalogue or an image left is of no use to anyone.
        if (!download.isResumable() && QFileInfo(download.path()).isFile())
            QFile::remove(download.path());
        qCWarning(lcDownload) << "Network Error : " << transfer->failure;
        if (download.isResumable() && tryNextMirror(keep, transfer->reason.isEmpty() ? transfer->failure : transfer->reason))
            return;
        if (transfer->reason.isEmpty())
            download.raiseError(transfer->failure, transfer->serverReason.isEmpty()
                                                       ? tr("the transfer broke off (%1)").arg(transfer->failure)
                                                       : transfer->serverReason);
        else
            download.raiseFailure(transfer->reason);
        finish(keep);
        return;
    }
    if (!HttpResume::isExpected(download, onDisk, transfer->hash.hexResult())) {
        restartOrFail(keep);
        return;
    }
    finish(keep);
}

void DownloadManager::restartOrFail(const QSharedPointer<Download> &download)
{
    // Not the archive the catalogue describes (a spliced resume, a file replaced on the server): never kept.
    qCWarning(lcDownload) << "Checksum mismatch : " << download->path();
    QFile::remove(download->path());
    if (!download->isRetried()) {
        download->setRetried();
        download->request().setRawHeader("Range", QByteArray());
        download->request().setRawHeader("If-Range", QByteArray());
        transfer(download);
        return;
    }
    if (tryNextMirror(download, QStringLiteral("checksum mismatch")))
        return;
    download->raiseChecksumError();
    finish(download);
}

bool DownloadManager::tryNextMirror(const QSharedPointer<Download> &download, const QString &why)
{
    const QString from = download->request().url().toString();
    if (download->isCancelled() || !download->nextMirror())
        return false;
    // What arrived stays: the next server continues it where it can, and the checksum decides.
    qCWarning(lcDownload) << "Trying the next mirror : " << download->request().url().toString() << " after "
                          << from << " : " << why;
    if (download->isResumable())
        checkSize(download);
    else
        transfer(download);
    return true;
}

QNetworkReply *DownloadManager::start(const QSharedPointer<Download> &download, bool head)
{
    // A stalled server would otherwise keep a transfer "downloading" for ever.
    download->request().setTransferTimeout(m_transferTimeout);
    QNetworkReply *reply = head ? m_network->head(download->request()) : m_network->get(download->request());
    // Never ignored: each reason goes to log.txt, and the reply fails with the handshake.
    connect(reply, &QNetworkReply::sslErrors, this, [url = download->request().url()](const QList<QSslError> &errors) {
        for (const QSslError &error : errors)
            qCWarning(lcDownload) << "TLS Error : " << url.toString() << " : " << error.errorString();
    });
    m_replies.insert(download.data(), reply);
    return reply;
}

void DownloadManager::removeFromList(const QSharedPointer<Download> &download)
{
    m_replies.remove(download.data());
    m_downloads.remove(download->id());
    const auto byUrl = m_byUrl.find(download->link());
    if (byUrl != m_byUrl.end() && *byUrl == download)
        m_byUrl.erase(byUrl);
    const auto busy = m_busyFiles.find(download->path());
    if (busy != m_busyFiles.end() && *busy == download->id())
        m_busyFiles.erase(busy);
    m_waiting.removeAll(download);
}

void DownloadManager::cancel(const QSharedPointer<Download> &download)
{
    if (!download || download->isCancelled())
        return;
    download->setCancelled();
    const QPointer<QNetworkReply> reply = m_replies.value(download.data());
    removeFromList(download);
    qCInfo(lcDownload) << "Cancelled : " << download->request().url().toString();
    if (reply)
        reply->abort();
    startPending();
}

bool DownloadManager::hasRunningDownloads() const
{
    return std::any_of(m_downloads.cbegin(), m_downloads.cend(),
                       [](const QSharedPointer<Download> &download) { return download->isResumable(); });
}

void DownloadManager::finish(const QSharedPointer<Download> &download)
{
    // Out of the list before anybody hears of the end, so that find() never hands out a finished download.
    removeFromList(download);
    download->setProcess(Download::FINISHED);
    startPending();
}

} // namespace KOV::Managers
