#include "controllers/catalogueloader.h"

#include <QFile>

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
            [this] { read(applicationDir() + QStringLiteral("packages.json")); });
}

void CatalogueLoader::load(const QString &url)
{
    if (m_settings->current().localRepo.value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) {
        m_localRepositoryTimer.start();
        return;
    }
    auto download = QSharedPointer<Models::Download>::create(url, false);
    // A failed download keeps its error on screen: what is left in the file is not a catalogue.
    auto failed = QSharedPointer<bool>::create(false);
    connect(download.data(), &Models::Download::error, this, [this, failed](const QString &text) {
        *failed = true;
        emit downloadFailed(text);
    });
    connect(download.data(), &Models::Download::finished, this, [this, failed](const QString &path) {
        if (!*failed)
            read(path);
    });
    m_downloadManager->add(download);
}

void CatalogueLoader::read(const QString &path)
{
    QFile file(path);
    QString problem = file.errorString();
    QVector<QSharedPointer<Models::Package>> packages;
    if (file.open(QIODevice::ReadOnly)
        && CatalogueReader::read(file.readAll(), m_settings->current().language.value, &packages, &problem)) {
        emit loaded(packages);
        return;
    }
    qCWarning(lcCatalogue) << "Catalogue Error : " << path << " : " << problem;
    emit unreadable();
}

} // namespace KOV::Controllers
