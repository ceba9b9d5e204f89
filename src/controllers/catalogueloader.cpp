#include "controllers/catalogueloader.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QThread>
#include <QtConcurrent>

#include <algorithm>
#include <atomic>

#include "app/environment.h"
#include "app/logging.h"
#include "app/settings.h"
#include "controllers/cataloguereader.h"
#include "managers/downloadmanager.h"
#include "managers/minisign.h"
#include "models/download.h"

namespace KOV::Controllers {

namespace {

constexpr qint64 maximumSignatureSize = 64 * 1024;

// The whole file, refused before a byte is read when it is larger than `limit`; empty when it is missing.
bool readBounded(const QString &path, qint64 limit, QByteArray *content, QString *problem)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = file.errorString();
        return false;
    }
    if (file.size() > limit) {
        *problem = QStringLiteral("%1 bytes, more than %2").arg(file.size()).arg(limit);
        return false;
    }
    // One allocation of its size.
    *content = file.read(file.size());
    return true;
}

QByteArray readSignature(const QString &path)
{
    QByteArray signature;
    QString problem;
    if (!path.isEmpty() && QFileInfo::exists(path))
        readBounded(path, maximumSignatureSize, &signature, &problem);
    return signature;
}

} // namespace

CatalogueLoader::CatalogueLoader(QSharedPointer<KOV::Settings> settings,
                                 QSharedPointer<Managers::DownloadManager> downloadManager, QObject *parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_downloadManager(std::move(downloadManager))
    , m_keys(CatalogueTrust::trustedKeys())
    , m_trustFolder(CatalogueTrust::defaultFolder())
{
    // The local repository's file is read after a second, as the design has it.
    m_localRepositoryTimer.setSingleShot(true);
    m_localRepositoryTimer.setInterval(1000);
    connect(&m_localRepositoryTimer, &QTimer::timeout, this, [this] {
        const QString path = applicationDir() + QStringLiteral("packages.json");
        readInBackground({ path, path + QStringLiteral(".minisig") });
    });
}

CatalogueLoader::~CatalogueLoader()
{
    for (QFuture<void> &reading : m_readings)
        reading.waitForFinished();
}

void CatalogueLoader::load(const QString &url)
{
    if (m_settings->current().localRepo.value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) {
        m_localRepositoryTimer.start();
        return;
    }
    auto download = QSharedPointer<Models::Download>::create(url, false);
    download->setMaximumSize(CatalogueReader::maximumDocumentSize);
    download->setPath(loadFile(*download));
    // A failed download keeps its error on screen: what is left in the file is not a catalogue.
    auto failed = QSharedPointer<bool>::create(false);
    connect(download.data(), &Models::Download::error, this, [this, failed](const QString &text) {
        *failed = true;
        emit downloadFailed(text);
    });
    connect(download.data(), &Models::Download::finished, this, [this, failed, url](const QString &path) {
        if (*failed)
            return;
        if (m_keys.isEmpty())
            readInBackground({ path, QString(), true });
        else
            fetchSignature(url, path);
    });
    m_downloadManager->add(download);
}

QString CatalogueLoader::loadFile(Models::Download &download)
{
    // A file of this load's own: a second load cannot rewrite it while this one is read, and it goes once read.
    return QDir(m_settings->current().cache.value).filePath(QStringLiteral("load-%1-").arg(++m_loads)
                                                            + download.fileName());
}

void CatalogueLoader::fetchSignature(const QString &url, const QString &catalogue)
{
    // Beside the catalogue on the server; a missing one makes the catalogue unsigned, which parse() refuses.
    auto download = QSharedPointer<Models::Download>::create(url + QStringLiteral(".minisig"), false);
    download->setMaximumSize(maximumSignatureSize);
    download->setPath(loadFile(*download));
    auto failed = QSharedPointer<bool>::create(false);
    connect(download.data(), &Models::Download::error, this, [failed](const QString &) { *failed = true; });
    connect(download.data(), &Models::Download::finished, this, [this, failed, catalogue](const QString &path) {
        if (*failed)
            QFile::remove(path);
        readInBackground({ catalogue, *failed ? QString() : path, true });
    });
    m_downloadManager->add(download);
}

CatalogueLoader::Result CatalogueLoader::parse(const Source &source, const QString &language, QThread *home,
                                               const QVector<CatalogueTrust::Key> &keys,
                                               const QString &trustFolder)
{
    Result result;
    QByteArray document;
    const bool read = readBounded(source.path, CatalogueReader::maximumDocumentSize, &document, &result.problem);
    const QByteArray signature = readSignature(source.signature);
    // What a load fetched is read now; the local repository's files stay.
    if (source.fetched) {
        QFile::remove(source.path);
        if (!source.signature.isEmpty())
            QFile::remove(source.signature);
    }
    if (!read)
        return result;
    if (keys.isEmpty()) {
        static std::atomic<bool> told { false };
        if (!told.exchange(true))
            qCWarning(lcCatalogue) << "Catalogue not verified : no key is trusted, so no signature is checked";
        result.readable = CatalogueReader::read(document, language, &result.packages, &result.problem);
    } else {
        const CatalogueTrust trust(keys, trustFolder);
        // The signature's hash runs beside the reading: on two cores it costs the reading almost nothing.
        Managers::Minisign::Signature parsed;
        const bool prehashed = Managers::Minisign::parseSignature(signature, &parsed) && parsed.algorithm == "ED";
        QFuture<QByteArray> prehash;
        if (prehashed)
            prehash = QtConcurrent::run([document] { return Managers::Minisign::blake2b512(document); });
        result.readable = CatalogueReader::read(document, language, &result.packages, &result.problem);
        const CatalogueTrust::Result verdict = trust.check(document, signature, QDateTime::currentDateTimeUtc(),
                                                           prehashed ? prehash.result() : QByteArray());
        if (verdict.verdict == CatalogueTrust::Accepted) {
            result.verified = true;
            if (result.readable && !trust.accept(document, signature, verdict.freshness.serial))
                qCWarning(lcCatalogue) << "Catalogue Error : cannot keep a copy in " << trustFolder;
        } else {
            qCWarning(lcCatalogue).noquote() << "Catalogue refused :" << source.path << ":" << verdict.why;
            result = Result();
            result.notice = verdict.message();
            result.problem = verdict.why;
            // The newest accepted catalogue instead, checked again against the keys trusted today; it may
            // have expired since.
            QByteArray kept;
            QString problem;
            if (readBounded(trust.acceptedCatalogue(), CatalogueReader::maximumDocumentSize, &kept, &problem)) {
                const CatalogueTrust::Result again = trust.check(kept, readSignature(trust.acceptedSignature()),
                                                                 QDateTime::currentDateTimeUtc());
                if (again.verdict == CatalogueTrust::Accepted || again.verdict == CatalogueTrust::Expired) {
                    result.verified = true;
                    result.readable = CatalogueReader::read(kept, language, &result.packages, &result.problem);
                }
            }
        }
    }
    // Made on this thread, used on the interface's.
    if (QThread::currentThread() != home) {
        for (const QSharedPointer<Models::Package> &package : qAsConst(result.packages))
            package->moveToThread(home);
    }
    return result;
}

void CatalogueLoader::read(const QString &path)
{
    ++m_generation;
    deliver(path, parse({ path, path + QStringLiteral(".minisig") }, m_settings->current().language.value,
                        thread(), m_keys, m_trustFolder));
}

void CatalogueLoader::readInBackground(const Source &source)
{
    const int generation = ++m_generation;
    const QString language = m_settings->current().language.value;
    QThread *home = thread();
    // The result travels in the queued call alone, which is gone once it has run: kept anywhere else (a
    // future's result, say), the packages would outlive the list and go all at once at the next read.
    m_readings.erase(std::remove_if(m_readings.begin(), m_readings.end(),
                                    [](const QFuture<void> &reading) { return reading.isFinished(); }),
                     m_readings.end());
    m_readings << QtConcurrent::run([this, source, language, home, generation, keys = m_keys,
                                     folder = m_trustFolder] {
        // Moved, not copied: a copy left here could be the last, and free the packages on this thread.
        Result result = parse(source, language, home, keys, folder);
        QMetaObject::invokeMethod(
            this,
            [this, path = source.path, result = std::move(result), generation] {
                if (generation == m_generation)
                    deliver(path, result);
            },
            Qt::QueuedConnection);
    });
}

void CatalogueLoader::deliver(const QString &path, const Result &result)
{
    if (result.readable) {
        emit loaded(result.packages, result.verified, result.notice);
        return;
    }
    qCWarning(lcCatalogue) << "Catalogue Error : " << path << " : " << result.problem;
    emit unreadable(result.notice);
}

} // namespace KOV::Controllers
