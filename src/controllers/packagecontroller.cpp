#include "controllers/packagecontroller.h"

#include <QDebug>
#include <QFile>
#include <QScopeGuard>

#include <utility>

#include "app/environment.h"
#include "app/logging.h"
#include "app/settings.h"
#include "controllers/catalogueloader.h"
#include "controllers/cataloguereader.h"
#include "controllers/changejournal.h"
#include "controllers/crashrecovery.h"
#include "controllers/folderpresence.h"
#include "controllers/installjournal.h"
#include "controllers/manifestverifier.h"
#include "controllers/packagedownload.h"
#include "controllers/preserveandbackup.h"
#include "managers/downloadmanager.h"
#include "models/download.h"

namespace KOV::Controllers {

using Models::Package;
using Models::PackageVersion;

PackageController::PackageController(QSharedPointer<KOV::Settings> settings,
                                     QSharedPointer<Managers::DownloadManager> downloadManager,
                                     QObject *parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_downloadManager(std::move(downloadManager))
    , m_loader(m_settings, m_downloadManager)
    , m_database(m_settings)
    , m_changes(m_database)
    , m_resolver([this](const QSharedPointer<Package> &package) { return installedVersion(package); })
    , m_queue(m_resolver, [this](const PendingInstallation &entry) { return installationTask(entry); })
{
    connect(&m_loader, &CatalogueLoader::loaded, this, &PackageController::onCatalogueLoaded);
    connect(&m_loader, &CatalogueLoader::downloadFailed, this, &PackageController::error);
    // What is shown stays; the message takes the list's place, as after a failed download.
    connect(&m_loader, &CatalogueLoader::unreadable, this, [this](const QString &notice) {
        emit error(notice.isEmpty() ? tr("The catalogue could not be read") : notice);
    });
    connect(&m_queue, &InstallQueue::examined, this, [this](const PendingInstallation &entry, bool dropped) {
        if (!dropped) {
            saveState(entry.package, entry.version);
            return;
        }
        entry.package->setState(Package::DEPENDENCY_ERROR);
        saveFailure(entry.package, entry.version);
    });
    connect(&m_queue, &InstallQueue::finished, this, &PackageController::onInstallationFinished);
}

PackageController::~PackageController() = default;

QString PackageController::catalogueUrl()
{
    return QStringLiteral(KOV_CATALOGUE_URL) + QStringLiteral("packages.json");
}

void PackageController::setPackages(const QVector<QSharedPointer<Package>> &packages)
{
    // The list read before goes a slice at a time: freeing it at once stalls the interface.
    m_retired.retire(std::exchange(m_packageList, packages));
    m_resolver.setPackages(packages);
}

void PackageController::installPackage(const QSharedPointer<Package> &package, QString &version)
{
    if (!package || package->versions().isEmpty())
        return;
    const QSharedPointer<PackageVersion> target = DependencyResolver::resolve(package, version);
    if (package->state() == Package::UNINSTALLING) {
        m_installAfterUninstall.insert(package->id());
        return;
    }
    // A package that depends on itself, directly or not, is handled once.
    if (m_installChain.contains(package->id()))
        return;
    m_installChain.insert(package->id());
    // Each entry is looked at after the ones before it were started: they may have brought it along.
    for (const QString &entry : target->depends) {
        QString latest;
        if (const QSharedPointer<Package> needed
            = m_resolver.toInstallFirst(DependencyResolver::parse(entry)))
            installPackage(needed, latest);
    }
    m_installChain.remove(package->id());
    if (package->state() == Package::INSTALLED)
        m_keptVersion.insert(package->id(), installedVersion(package));

    // The signed catalogue vouches for an archive only through its checksum.
    if (m_catalogueVerified && target->sha256.isEmpty()) {
        qCWarning(lcInstall) << "No checksum for " << target->link << " in a signed catalogue";
        package->setFailureReason(failureText(version, tr("This archive has no checksum in the catalogue.")));
        package->setState(Package::DOWNLOAD_ERROR);
        saveFailure(package, version);
        return;
    }
    QSharedPointer<Models::Download> download = m_downloadManager->find(target->link);
    if (!download) {
        download = QSharedPointer<Models::Download>::create(target->link, true);
        download->setExpected(target->sha256.toLatin1(), target->size);
        download->setMirrors(target->mirrors);
    }
    const QString resolved = version;
    m_downloadingVersions.insert(package->id(), resolved);
    PackageDownload::attach(
        download, package,
        [this, package, resolved](const QSharedPointer<Models::Download> &source, int process) {
            onDownloadProcess(package, resolved, source, process);
        },
        [this, package, resolved](const QString &reason) { onDownloadError(package, resolved, reason); });
    download->notifyState();
    m_downloadManager->add(download);
}

void PackageController::onDownloadError(const QSharedPointer<Package> &package, const QString &version,
                                        const QString &reason)
{
    package->setFailureReason(failureText(version, reason));
    package->setState(Package::DOWNLOAD_ERROR);
    saveFailure(package, version);
    // Entries waiting on this package are dropped now rather than at the next arrival.
    processPendingInstallations();
}

void PackageController::onDownloadProcess(const QSharedPointer<Package> &package, const QString &version,
                                          const QSharedPointer<Models::Download> &download, int process)
{
    switch (process) {
    // Waiting for its turn counts as started: a dependent must not find it merely available.
    case Models::Download::QUEUED:
    case Models::Download::CHECKING:
        package->setState(Package::PREPARING);
        break;
    case Models::Download::DOWNLOADING:
        package->setState(Package::DOWNLOADING);
        m_changes.saveProgress(package, version, m_keptVersion.value(package->id()),
                               m_settings->current().installation.value);
        break;
    case Models::Download::FINISHED:
        package->setState(Package::INSTALLING);
        m_changes.saveProgress(package, version, m_keptVersion.value(package->id()),
                               m_settings->current().installation.value);
        if (download)
            m_queue.enqueue({ package, version, download->path() });
        processPendingInstallations();
        break;
    default:
        break;
    }
}

InstallQueue::Task PackageController::installationTask(const PendingInstallation &entry)
{
    // Everything the task needs is taken here, on this thread: what is this package's and what is others'.
    FileContext context = fileContext(entry.package);
    context.ownedFiles = m_database.ownedFiles(entry.package->id());
    for (const ManifestEntry &file : m_database.manifest(entry.package->id()))
        context.ownFiles << file.path;
    const qint64 row = m_changes.begin(entry, m_keptVersion.value(entry.package->id()), context.root);
    const QString databaseFile = m_database.fileName();
    if (entry.uninstall)
        return [context, databaseFile, row] {
            if (row < 0)
                return PackageInstaller::removeInstalledFiles(context);
            InstallJournal journal(databaseFile, row);
            return PackageInstaller::removeInstalledFiles(context, &journal);
        };
    FileContext installContext = context;
    installContext.overwriteOwned = entry.overwriteOwned;
    return [entry, installContext, databaseFile, row] {
        QScopedPointer<InstallJournal> journal(row < 0 ? nullptr : new InstallJournal(databaseFile, row));
        const InstallOutcome outcome = PackageInstaller::install(
            entry.package, entry.version, entry.archivePath, installContext, journal.data());
        // Kept for the answer to the question about other packages' files.
        if (!outcome.conflicts.isEmpty())
            return outcome;
        // A failed archive goes too: the next try downloads it afresh.
        qDebug() << "Removing file : " << entry.archivePath;
        QFile::remove(entry.archivePath);
        return outcome;
    };
}

void PackageController::onInstallationFinished(const PendingInstallation &entry,
                                               const InstallOutcome &outcome)
{
    const QSharedPointer<Package> &package = entry.package;
    const auto ended = qScopeGuard([this, package] { emit changeEnded(package); });
    package->setFailureReason(outcome.reason.isEmpty() ? QString() : failureText(entry.version, outcome.reason));
    if (entry.uninstall) {
        if (outcome.done) {
            m_keptVersion.remove(package->id());
            // The remove list decides what goes; what it missed is worth a line. X-Plane's own files went
            // back.
            const QStringList restored = PreserveAndBackup::backupKeys(package, entry.version);
            for (const QString &file : ManifestVerifier::stillPresent(
                     m_settings->current().installation.value, m_database.manifest(package->id()), restored))
                qCWarning(lcInstall) << "Still in the X-Plane folder after uninstalling : " << file;
            m_database.removeManifest(package->id());
        }
        setStateEverywhere(package, outcome.done ? Package::AVAILABLE : Package::INSTALLED);
        // Uninstalled, no version is left to name.
        m_changes.end(package, outcome.done ? QString() : entry.version, package->state());
        if (!outcome.done)
            emit uninstallFailed(package, outcome.leftovers);
        // An installation asked for while the uninstallation ran starts now.
        if (m_installAfterUninstall.remove(package->id())) {
            QString latest;
            installPackage(m_resolver.find(package->id()) ? m_resolver.find(package->id()) : package, latest);
        }
        return;
    }
    if (!outcome.conflicts.isEmpty()) {
        // Nothing changed: back to where it stood until the user answers.
        const bool kept = m_keptVersion.contains(package->id());
        setStateEverywhere(package, kept ? Package::INSTALLED : Package::AVAILABLE);
        m_changes.end(package, kept ? m_keptVersion.value(package->id()) : QString(), package->state());
        m_conflicted.insert(package->id(), entry);
        QStringList owners;
        QStringList files;
        for (auto it = outcome.conflicts.cbegin(); it != outcome.conflicts.cend(); ++it) {
            const QSharedPointer<Package> owner = m_resolver.find(it.key());
            owners << (owner ? owner->name() : QString::number(it.key()));
            files << it.value();
        }
        emit conflictsFound(package, owners.join(QStringLiteral(", ")), files);
        return;
    }
    if (!outcome.done) {
        setStateEverywhere(package, Package::INSTALL_ERROR);
        saveFailure(package, entry.version);
        return;
    }
    m_keptVersion.remove(package->id());
    if (!outcome.recorded)
        m_database.saveManifest(package->id(), outcome.manifest);
    // An older version installed on purpose still has the newest one to update to.
    package->setHasUpdate(Models::versionIndex(package, entry.version) != 0);
    setStateEverywhere(package, Package::INSTALLED);
    m_changes.end(package, entry.version, Package::INSTALLED);
}

void PackageController::resolveConflicts(const QSharedPointer<Package> &package, bool overwrite)
{
    if (!m_conflicted.contains(package->id()))
        return;
    PendingInstallation entry = m_conflicted.take(package->id());
    // No: the archive stays in the cache, and the next try finds it there.
    if (!overwrite)
        return;
    entry.overwriteOwned = true;
    entry.package->setState(Package::INSTALLING);
    saveState(entry.package, entry.version);
    m_queue.enqueue(entry);
    m_queue.process();
}

void PackageController::saveFailure(const QSharedPointer<Package> &package, const QString &version)
{
    m_failedVersions.insert(package->id(), version);
    // A failed update leaves the old version in place: the records say so, the tile shows the error.
    const auto kept = m_keptVersion.constFind(package->id());
    if (kept != m_keptVersion.constEnd())
        m_changes.end(package, *kept, Package::INSTALLED);
    else
        m_changes.end(package, QString(), package->state());
}

void PackageController::setStateEverywhere(const QSharedPointer<Package> &package, Package::State state)
{
    package->setState(state);
    // After a catalogue reload the list shows another object for the same package.
    const QSharedPointer<Package> current = m_resolver.find(package->id());
    if (current && current != package) {
        current->setHasUpdate(package->hasUpdate());
        current->setFailureReason(package->failureReason());
        current->setState(state);
    }
}

void PackageController::retry(const QSharedPointer<Package> &package)
{
    if (!package || package->versions().isEmpty())
        return;
    QString version = m_failedVersions.value(package->id());
    installPackage(package, version);
}

void PackageController::cancel(const QSharedPointer<Package> &package)
{
    if (!package || (package->state() != Package::PREPARING && package->state() != Package::DOWNLOADING))
        return;
    const QString version = m_downloadingVersions.value(package->id());
    QString resolved = version;
    m_downloadManager->cancel(m_downloadManager->find(DependencyResolver::resolve(package, resolved)->link));
    const auto kept = m_keptVersion.constFind(package->id());
    const bool installed = kept != m_keptVersion.constEnd();
    setStateEverywhere(package, installed ? Package::INSTALLED : Package::AVAILABLE);
    // A first download stopped leaves the package as it was: not installed, no version on record.
    m_changes.end(package, installed ? *kept : QString(), package->state());
    m_keptVersion.remove(package->id());
    // What was on its way because it needed this package stops too, as after a failed download.
    for (const QSharedPointer<Package> &other :
         m_resolver.onTheirWayNeeding(package->id(), m_downloadingVersions)) {
        if (other->state() != Package::INSTALLING)
            cancel(other);
        other->setState(Package::DEPENDENCY_ERROR);
        saveFailure(other, m_downloadingVersions.value(other->id()));
    }
    processPendingInstallations();
}

void PackageController::uninstallPackage(const QSharedPointer<Package> &package)
{
    if (!package || m_uninstallChain.contains(package->id()) || m_queue.contains(package->id()))
        return;
    m_uninstallChain.insert(package->id());
    // Dependents are queued first, so they go first.
    for (const QSharedPointer<Package> &dependent : dependents(package, QString()))
        uninstallPackage(dependent);
    package->setState(Package::UNINSTALLING);
    m_queue.enqueueUninstall({ package, installedVersion(package), QString() });
    m_uninstallChain.remove(package->id());
    m_queue.process();
}

QSharedPointer<Models::Download> PackageController::activeDownload(const QSharedPointer<Package> &package)
{
    if ((package->state() != Package::DOWNLOADING && package->state() != Package::INSTALLING)
        || !m_downloadingVersions.contains(package->id()) || package->versions().isEmpty())
        return {};
    const QString version = m_downloadingVersions.value(package->id());
    return m_downloadManager->find(package->versions().at(Models::versionIndex(package, version))->link);
}

QString PackageController::failureText(const QString &version, const QString &reason)
{
    // Which version failed, then why, in the words of what failed.
    const QString why = reason.isEmpty() ? tr("it failed") : reason;
    return tr("Version %1: %2").arg(version, why.endsWith(QLatin1Char('.')) ? why : why + QLatin1Char('.'));
}

QString PackageController::shownVersion(const QSharedPointer<Package> &package)
{
    switch (package->state()) {
    case Package::INSTALLED:
    case Package::UNINSTALLING:
        return installedVersion(package);
    case Package::AVAILABLE:
    case Package::UNKNOWN:
        return QString();
    default:
        // On its way or failed: the version that stays on disk, when one does.
        if (m_keptVersion.contains(package->id()))
            return m_keptVersion.value(package->id());
        return databaseStatus(package) == Package::INSTALLED ? installedVersion(package) : QString();
    }
}

void PackageController::loadCatalogue()
{
    emit busy();
    ensureDir(m_settings->current().preserve.value, true);
    ensureDir(m_settings->current().backup.value, true);
    openDatabase();
    m_loader.load(m_catalogueUrl.isEmpty() ? catalogueUrl() : m_catalogueUrl);
}

void PackageController::onCatalogueLoaded(const QVector<QSharedPointer<Package>> &packages, bool verified,
                                          const QString &notice)
{
    m_catalogueVerified = verified;
    const QHash<int, PackageDatabase::Record> records = m_database.records();
    FolderPresence folders;
    for (const QSharedPointer<Package> &package : packages)
        m_database.mergeInstalledState(package, records, folders);
    setPackages(packages);
    emit update();
    emit list();
    emit this->notice(notice);
}

QString PackageController::changeLogHtml(const QSharedPointer<Package> &package, const QString &version)
{
    if (package->state() != Package::INSTALLED)
        return QString();
    return CatalogueReader::changeLogHtml(package, installedVersion(package), version);
}

QString PackageController::changeLogEntryHtml(const PackageVersion &version)
{
    return CatalogueReader::changeLogEntryHtml(version);
}

FileContext PackageController::fileContext(const QSharedPointer<Package> &package)
{
    FileContext context;
    context.root = m_settings->current().installation.value;
    // Read each time: the settings dialog may have moved them.
    context.preserveFolder = m_settings->current().preserve.value;
    context.backupFolder = m_settings->current().backup.value;
    const QVector<QSharedPointer<PackageVersion>> versions = package->versions();
    if (versions.isEmpty())
        return context;
    context.installed = versions.at(Models::versionIndex(package, installedVersion(package)));
    context.sharedBackups = PreserveAndBackup::sharedBackups(
        m_packageList, package->id(),
        [this](const QSharedPointer<Package> &other) { return installedVersion(other); });
    return context;
}

void PackageController::openDatabase()
{
    const bool first = !m_database.isOpen();
    m_database.open();
    const QString broken = m_database.takeBrokenFile();
    if (!broken.isEmpty())
        emit databaseRebuilt(broken);
    if (m_database.openProblem() != PackageDatabase::OpenProblem::None)
        emit databaseUnavailable(m_database.openProblem() == PackageDatabase::OpenProblem::Busy,
                                 m_database.fileName(), m_database.openProblemDetail());
    // Changes that a crash cut short are resolved before any list is read; later loads find none but ours.
    if (first && !m_queue.isInstalling())
        CrashRecovery::resolve(m_database.connection());
}

void PackageController::resetDatabase()
{
    m_database.reset();
    m_downloadManager->removeDatabase();
}

} // namespace KOV::Controllers
