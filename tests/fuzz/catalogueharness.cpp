#include "catalogueharness.h"

#include <QFile>
#include <QNetworkAccessManager>

#include "app/settings.h"
#include "controllers/packagecontroller.h"
#include "managers/downloadmanager.h"

namespace KOVFuzz {

using KOV::Models::Package;

CatalogueHarness::CatalogueHarness(const QString &folder)
    : m_folder(folder)
{
    m_settings = QSharedPointer<KOV::Settings>::create();
    auto &edited = m_settings->edited();
    edited.installation.value = folder + QStringLiteral("/X-Plane/");
    edited.language.value = QStringLiteral("de");
    edited.cache.value = folder + QStringLiteral("/cache/");
    edited.preserve.value = folder + QStringLiteral("/preserve/");
    edited.backup.value = folder + QStringLiteral("/backup/");
    m_settings->commit();
    auto downloads = QSharedPointer<KOV::Managers::DownloadManager>::create(
        m_settings, QSharedPointer<QNetworkAccessManager>::create());
    m_controller = QSharedPointer<KOV::Controllers::PackageController>::create(m_settings, downloads);
    m_controller->openDatabase();
}

CatalogueHarness::~CatalogueHarness() = default;

void CatalogueHarness::run(const QByteArray &document)
{
    const QString path = m_folder + QStringLiteral("/packages.json");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    file.write(document);
    file.close();

    m_controller->parseCatalogue(path);
    const auto packages = m_controller->packages();
    for (int i = 0; i < packages.size(); ++i) {
        const auto &package = packages.at(i);
        // Every other package counts as installed, in its oldest version.
        if (i % 2 == 0) {
            package->setState(Package::INSTALLED);
            m_controller->saveState(package, package->versions().last()->version);
        }
        for (const auto &version : package->versions()) {
            for (const QString &entry : version->depends)
                KOV::Controllers::PackageController::parseDependency(entry);
            KOV::Models::versionIndex(package, version->version);
            m_controller->changeLogHtml(package, version->version);
        }
        QString version;
        m_controller->dependencies(package, version);
        m_controller->dependents(package, QString());
        m_controller->dependents(package, version);
        m_controller->changeLogHtml(package, QString());
        m_controller->installedVersion(package);
    }
}

} // namespace KOVFuzz
