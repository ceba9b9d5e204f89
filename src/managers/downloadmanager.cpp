#include "managers/downloadmanager.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QSet>

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
    bool failed = false;
    // Fed as the bytes arrive (and with the part already on disk when resuming): no extra pass.
    Sha256 hash;
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
    if (!m_byUrl.contains(download->request().url()))
        m_byUrl.insert(download->request().url(), download);
    m_waiting.append(download);
    if (!deferStart)
        startPending();
}

void DownloadManager::startPending()
{
    // URLs that end in the same name share a cache file: one transfer at a time writes it. Only the
    // downloads that wait are looked at, so that a list of thousands of icons costs no more per addition.
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
    // The server sends the rest only of the file it had then, else the whole file anew.
    download->request().setRawHeader("If-Range", m_records.validator(download->request().url().toString()));
}

void DownloadManager::checkSize(const QSharedPointer<Download> &download)
{
    download->setProcess(Download::CHECKING);
    QNetworkReply *reply = start(download, true);
    connect(reply, &QNetworkReply::finished, this, [this, download, reply] {
        reply->deleteLater();
        if (download->isCancelled())
            return;
        const QString path = download->path();
        const QString url = download->request().url().toString();
        // A partial file is only continued by the URL that wrote it.
        if (QFileInfo::exists(path) && !m_records.ownsFile(download->request().url()))
            QFile::remove(path);
        const QByteArray stored = m_records.validator(url);
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();

        if (reply->error() != QNetworkReply::NoError) {
            // A server that does not do HEAD: the GET and its Content-Range decide instead.
            if (status == 405 || status == 501) {
                qCWarning(lcDownload) << "HEAD refused (" << status << "), asking with GET : " << url;
                const QFileInfo file(path);
                if (file.isFile() && file.size() > 0 && !stored.isEmpty())
                    resumeFrom(download, file.size());
                else
                    QFile::remove(path);
                transfer(download);
                return;
            }
            // No GET after a failed HEAD: the error is the end of this download.
            qCWarning(lcDownload) << "Network Error : " << reply->errorString();
            download->raiseError(reply->errorString());
            finish(download);
            return;
        }

        // An error page carries a length too, but not the archive's.
        const QByteArray validator = HttpResume::validatorOf(*reply);
        const bool known = reply->hasRawHeader("Content-Length") && !validator.isEmpty();
        // Another file on the server than the one the partial file began: never continued.
        if (QFileInfo::exists(path) && !stored.isEmpty() && !validator.isEmpty() && stored != validator) {
            qCWarning(lcDownload) << "The file changed on the server, starting afresh : " << url;
            QFile::remove(path);
        }
        if (known) {
            const qlonglong remote = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
            download->setFileSize(remote);
            const QFileInfo file(path);
            if (file.exists() && file.isFile()) {
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
    if (download->process() == Download::QUEUED)
        QFile::remove(download->path());
    if (download->request().hasRawHeader("Range"))
        state->rangeStart = QFileInfo(download->path()).size();
    m_records.claimFile(download->request().url(), download->isResumable());

    download->setProcess(Download::DOWNLOADING);
    QNetworkReply *reply = start(download, false);
    reply->setReadBufferSize(readBufferSize);
    state->reply = reply;

    connect(reply, &QNetworkReply::readyRead, this, [this, state] { writeAvailable(*state); });
    connect(reply, &QNetworkReply::downloadProgress, this, [state](qint64, qint64 total) {
        // The length of an error page is not the size of the file.
        if (state->failed || state->mode == Transfer::Discard
            || state->reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() >= 400)
            return;
        Download &download = *state->download;
        // The length of a 206 is what is left, not the file's: Content-Range gives that.
        if (download.fileSize() == 0
            && state->reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 206)
            download.setFileSize(total);
        const qlonglong onDisk
            = state->file->isOpen() ? state->file->size() : QFileInfo(download.path()).size();
        download.setCurrentSize(onDisk);
    });
    connect(reply, &QNetworkReply::errorOccurred, this, [state](QNetworkReply::NetworkError) {
        if (state->failed || state->download->isCancelled())
            return;
        state->failed = true;
        qCWarning(lcDownload) << "Network Error : " << state->reply->errorString();
        state->download->raiseError(state->reply->errorString());
    });
    connect(reply, &QNetworkReply::finished, this, [this, state] { finishTransfer(state); });
}

void DownloadManager::writeAvailable(Transfer &transfer)
{
    QNetworkReply *reply = transfer.reply;
    if (transfer.mode == Transfer::Undecided) {
        // Only bytes that belong at the end of the local file may go there.
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status >= 400 || reply->error() != QNetworkReply::NoError) {
            transfer.mode = Transfer::Discard;
        } else if (status == 206) {
            const qint64 start = HttpResume::contentRangeStart(reply->rawHeader("Content-Range"));
            if (transfer.rangeStart >= 0 && start == transfer.rangeStart) {
                transfer.mode = Transfer::Append;
                if (transfer.download->fileSize() == 0)
                    transfer.download->setFileSize(
                        HttpResume::contentRangeTotal(reply->rawHeader("Content-Range")));
            } else {
                transfer.mode = Transfer::Discard;
                transfer.failed = true;
                transfer.download->raiseError(
                    QStringLiteral("Content-Range %1 does not continue a file of %2 bytes")
                        .arg(QString::fromLatin1(reply->rawHeader("Content-Range")))
                        .arg(transfer.rangeStart));
                reply->abort();
                return;
            }
        } else {
            transfer.mode = Transfer::Replace;
        }
        if (transfer.mode != Transfer::Discard && transfer.download->isResumable())
            m_records.recordValidator(transfer.download->request().url().toString(),
                                      HttpResume::validatorOf(*reply));
    }

    if (transfer.mode == Transfer::Discard) {
        // An aborted reply is closed: nothing is left to drain.
        if (reply->isOpen())
            reply->readAll();
        return;
    }
    if (!transfer.file->isOpen()) {
        const QIODevice::OpenMode mode = transfer.mode == Transfer::Append
                                             ? QIODevice::WriteOnly | QIODevice::Append
                                             : QIODevice::WriteOnly | QIODevice::Truncate;
        if (!transfer.file->open(mode)) {
            failOnDisk(transfer);
            return;
        }
        if (transfer.mode == Transfer::Append && !transfer.download->expectedSha256().isEmpty())
            transfer.hash.addFile(transfer.download->path());
    }
    while (reply->bytesAvailable() > 0) {
        const QByteArray chunk = reply->read(qMin<qint64>(reply->bytesAvailable(), readBufferSize));
        if (transfer.file->write(chunk) != chunk.size()) {
            failOnDisk(transfer);
            return;
        }
        if (!transfer.download->expectedSha256().isEmpty())
            transfer.hash.addData(chunk);
    }
    // downloadProgress() comes at most every 100 ms: the last bytes before a pause would go unseen.
    transfer.download->setCurrentSize(transfer.file->size());
}

void DownloadManager::failOnDisk(Transfer &transfer)
{
    // What reached the disk stays for a later resume; the rest of the answer is not wanted.
    qCWarning(lcDownload) << "Cannot write : " << transfer.file->fileName() << " : "
                          << transfer.file->errorString();
    transfer.mode = Transfer::Discard;
    if (!transfer.failed) {
        transfer.failed = true;
        transfer.download->raiseDiskError(writeFailureReason(m_cacheFolder));
    }
    if (transfer.reply)
        transfer.reply->abort();
}

void DownloadManager::finishTransfer(const QSharedPointer<Transfer> &transfer)
{
    if (transfer->reply) {
        writeAvailable(*transfer);
        transfer->reply->deleteLater();
    }
    if (transfer->file->isOpen()) {
        if (!transfer->file->flush())
            failOnDisk(*transfer);
        transfer->file->close();
    }
    transfer->file.reset();
    // Asked to stop: what arrived stays for the next try, and nobody is told anything.
    if (transfer->download->isCancelled())
        return;
    // A short answer is not the archive, whatever the connection said about it.
    Download &download = *transfer->download;
    const qint64 onDisk = QFileInfo(download.path()).size();
    if (!transfer->failed && download.isResumable() && download.fileSize() > 0
        && onDisk != download.fileSize()) {
        transfer->failed = true;
        download.raiseError(QStringLiteral("%1 of %2 bytes arrived").arg(onDisk).arg(download.fileSize()));
    }
    if (!transfer->failed && !HttpResume::isExpected(download, onDisk, transfer->hash.hexResult())) {
        restartOrFail(transfer->download);
        return;
    }
    finish(transfer->download);
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
    download->raiseChecksumError();
    finish(download);
}

QNetworkReply *DownloadManager::start(const QSharedPointer<Download> &download, bool head)
{
    // A stalled server would otherwise keep a transfer "downloading" for ever.
    download->request().setTransferTimeout(m_transferTimeout);
    QNetworkReply *reply = head ? m_network->head(download->request()) : m_network->get(download->request());
    m_replies.insert(download.data(), reply);
    return reply;
}

void DownloadManager::removeFromList(const QSharedPointer<Download> &download)
{
    m_replies.remove(download.data());
    m_downloads.remove(download->id());
    const auto byUrl = m_byUrl.find(download->request().url());
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
