#include "controllers/catalogueloader.h"

#include <QFile>
#include <QThread>
#include <QtConcurrent>

#include <algorithm>

#include "app/environment.h"
#include "app/logging.h"
#include "app/settings.h"
#include "controllers/cataloguereader.h"
#include "managers/downloadmanager.h"
#include "models/download.h"

namespace KOV::Controllers {

CatalogueLoader::CatalogueLoader(QSharedPointer<KOV::Settings> settings,
                                 QSharedPointer<Managers::DownloadManager> downloadManager, QObject *parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_downloadManager(std::move(downloadManager))
{
    // The local repository's file is read after a second, as the design has it.
    m_localRepositoryTimer.setSingleShot(true);
    m_localRepositoryTimer.setInterval(1000);
    connect(&m_localRepositoryTimer, &QTimer::timeout, this,
            [this] { readInBackground(applicationDir() + QStringLiteral("packages.json")); });
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
    // A failed download keeps its error on screen: what is left in the file is not a catalogue.
    auto failed = QSharedPointer<bool>::create(false);
    connect(download.data(), &Models::Download::error, this, [this, failed](const QString &text) {
        *failed = true;
        emit downloadFailed(text);
    });
    connect(download.data(), &Models::Download::finished, this, [this, failed](const QString &path) {
        if (!*failed)
            readInBackground(path);
    });
    m_downloadManager->add(download);
}

CatalogueLoader::Result CatalogueLoader::parse(const QString &path, const QString &language, QThread *home)
{
    Result result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.problem = file.errorString();
        return result;
    }
    // Refused before a byte is read, and read in one allocation of its size.
    if (file.size() > CatalogueReader::maximumDocumentSize) {
        result.problem = QStringLiteral("%1 bytes, more than %2").arg(file.size()).arg(CatalogueReader::maximumDocumentSize);
        return result;
    }
    result.readable = CatalogueReader::read(file.read(file.size()), language, &result.packages, &result.problem);
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
    deliver(path, parse(path, m_settings->current().language.value, thread()));
}

void CatalogueLoader::readInBackground(const QString &path)
{
    const int generation = ++m_generation;
    const QString language = m_settings->current().language.value;
    QThread *home = thread();
    // The result travels in the queued call alone, which is gone once it has run: kept anywhere else (a
    // future's result, say), the packages would outlive the list and go all at once at the next read.
    m_readings.erase(std::remove_if(m_readings.begin(), m_readings.end(),
                                    [](const QFuture<void> &reading) { return reading.isFinished(); }),
                     m_readings.end());
    m_readings << QtConcurrent::run([this, path, language, home, generation] {
        // Moved, not copied: a copy left here could be the last, and free the packages on this thread.
        Result result = parse(path, language, home);
        QMetaObject::invokeMethod(
            this,
            [this, path, result = std::move(result), generation] {
                if (generation == m_generation)
                    deliver(path, result);
            },
            Qt::QueuedConnection);
    });
}

void CatalogueLoader::deliver(const QString &path, const Result &result)
{
    if (result.readable) {
        emit loaded(result.packages);
        return;
    }
    qCWarning(lcCatalogue) << "Catalogue Error : " << path << " : " << result.problem;
    emit unreadable();
}

} // namespace KOV::Controllers
