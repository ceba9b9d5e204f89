#include "controllers/packagecontroller.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <QtConcurrent>
#include <QVersionNumber>
#include <algorithm>

#include "app/environment.h"
#include "app/settings.h"
#include "extractors/p7zipextractor.h"
#include "managers/downloadmanager.h"
#include "models/download.h"

namespace KOV::Controllers {

using Models::Package;
using Models::PackageVersion;

namespace {

const QString connectionName = QStringLiteral("PackageDatabaseConnection");

bool execLogged(QSqlQuery &query)
{
    if (query.exec())
        return true;
    qDebug() << "SQL Error: " << query.lastError().text();
    return false;
}

QString jsonString(const QJsonValue &value)
{
    return value.isString() ? value.toString() : QString();
}

QStringList jsonStrings(const QJsonValue &value)
{
    QStringList strings;
    for (const QJsonValue &element : value.toArray())
        strings << jsonString(element);
    return strings;
}

// The text under the interface language, else under "en", else nothing.
QString localized(const QJsonValue &value, const QString &language)
{
    if (!value.isObject())
        return QString();
    const QJsonObject texts = value.toObject();
    return jsonString(texts.contains(language) ? texts.value(language) : texts.value(QStringLiteral("en")));
}

QSharedPointer<PackageVersion> parseVersion(const QJsonObject &object)
{
    auto version = QSharedPointer<PackageVersion>::create();
    version->version = jsonString(object.value(QStringLiteral("version")));
    version->link = jsonString(object.value(QStringLiteral("link")));
    version->depends = jsonStrings(object.value(QStringLiteral("depends")));
    version->log = jsonStrings(object.value(QStringLiteral("log")));
    const QJsonObject install = object.value(QStringLiteral("install")).toObject();
    version->install = QSharedPointer<Models::InstallInstructions>::create();
    version->install->extract = jsonString(install.value(QStringLiteral("extract")));
    version->install->preserve = jsonStrings(install.value(QStringLiteral("preserve")));
    version->install->backup = jsonStrings(install.value(QStringLiteral("backup")));
    version->uninstall = QSharedPointer<Models::UninstallInstructions>::create();
    version->uninstall->remove
        = jsonStrings(object.value(QStringLiteral("uninstall")).toObject().value(QStringLiteral("remove")));
    return version;
}

// An instruction entry below the X-Plane root; empty (and logged) when it would leave it or name the root.
QString entryLocation(const QString &base, const QString &entry)
{
    QString trimmed = entry;
    trimmed.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QStringList parts = trimmed.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const bool namesRoot
        = std::all_of(parts.cbegin(), parts.cend(), [](const QString &part) { return part == QLatin1String("."); });
    if (!staysInside(entry) || namesRoot) {
        qDebug() << "Skipping entry outside the X-Plane folder : " << entry;
        return QString();
    }
    return base + QDir::separator() + entry;
}

QString parentFolder(const QString &path)
{
    return QFileInfo(path).absolutePath();
}

// Copies a saved file back over whatever is at the destination; the saved copy goes only once it is back.
bool putBack(const QString &saved, const QString &destination)
{
    ensureDir(parentFolder(destination), true);
    const QFileInfo target(destination);
    if ((target.exists() || target.isSymLink()) && !target.isDir())
        QFile::remove(destination);
    if (!QFile::copy(saved, destination)) {
        qDebug() << "Keeping saved copy, it could not be put back : " << saved;
        return false;
    }
    QFile::remove(saved);
    return true;
}

} // namespace

PackageController::PackageController(QSharedPointer<KOV::Settings> settings,
                                     QSharedPointer<Managers::DownloadManager> downloadManager, QObject *parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_downloadManager(std::move(downloadManager))
    , m_preserveFolder(m_settings->current().preserve.value)
    , m_backupFolder(m_settings->current().backup.value)
{
    m_localRepositoryTimer.setSingleShot(true);
    m_localRepositoryTimer.setInterval(1000);
    connect(&m_localRepositoryTimer, &QTimer::timeout, this,
            [this] { parseCatalogue(applicationDir() + QStringLiteral("packages.json")); });
}

PackageController::~PackageController()
{
    // The task works on this object's files; it must end before the object does.
    m_installationFuture.waitForFinished();
    m_database.close();
    m_database = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
}

QString PackageController::catalogueUrl()
{
    return QStringLiteral(KOV_CATALOGUE_URL) + QStringLiteral("packages.json");
}

QVector<QString> PackageController::categories() const
{
    return { QStringLiteral("PLUGIN"), QStringLiteral("LIBRARY") };
}

void PackageController::showDetail(const QSharedPointer<Package> &package)
{
    emit detail(package);
}

void PackageController::showList()
{
    emit list();
}

QSharedPointer<Package> PackageController::findPackage(int id) const
{
    for (const QSharedPointer<Package> &package : m_packageList) {
        if (package->id() == id)
            return package;
    }
    return {};
}

namespace {

int compareVersions(const QString &a, const QString &b)
{
    return QVersionNumber::compare(QVersionNumber::fromString(a), QVersionNumber::fromString(b));
}

QSharedPointer<PackageVersion> resolvedVersion(const QSharedPointer<Package> &package, QString &version)
{
    const auto resolved = package->versions().at(Models::versionIndex(package, version));
    version = resolved->version;
    return resolved;
}

bool isFailed(Package::State state)
{
    return state == Package::INSTALL_ERROR || state == Package::DOWNLOAD_ERROR
           || state == Package::DEPENDENCY_ERROR;
}

} // namespace

QVector<QSharedPointer<Package>> PackageController::dependencies(const QSharedPointer<Package> &package,
                                                                 QString &version)
{
    QVector<QSharedPointer<Package>> result;
    if (!package || package->versions().isEmpty())
        return result;
    QVector<int> ids;
    QStringList minimums;
    for (const QString &entry : resolvedVersion(package, version)->depends) {
        // An entry that cannot be read resolves to nothing, so the widgets refuse the installation.
        const Dependency dependency = parseDependency(entry);
        if (!dependency.valid)
            continue;
        ids << dependency.id;
        minimums << dependency.minimum;
    }
    for (const QSharedPointer<Package> &candidate : qAsConst(m_packageList)) {
        const int position = ids.indexOf(candidate->id());
        if (position >= 0 && compareVersions(candidate->versions().first()->version, minimums.at(position)) >= 0)
            result << candidate;
    }
    return result;
}

QVector<QSharedPointer<Package>> PackageController::dependents(const QSharedPointer<Package> &package,
                                                               const QString &version)
{
    QVector<QSharedPointer<Package>> result;
    for (const QSharedPointer<Package> &candidate : qAsConst(m_packageList)) {
        if (candidate->id() == package->id() || candidate->state() != Package::INSTALLED
            || candidate->versions().isEmpty())
            continue;
        QString installed = installedVersion(candidate);
        for (const QString &entry : resolvedVersion(candidate, installed)->depends) {
            const Dependency dependency = parseDependency(entry);
            if (!dependency.valid || dependency.id != package->id())
                continue;
            if (version.isEmpty() || compareVersions(version, dependency.minimum) < 0)
                result << candidate;
            break;
        }
    }
    return result;
}

void PackageController::installDependencies(const QSharedPointer<Package> &package, const QString &version)
{
    QString resolved = version;
    for (const QString &entry : resolvedVersion(package, resolved)->depends) {
        const Dependency dependency = parseDependency(entry);
        const QSharedPointer<Package> needed = dependency.valid ? findPackage(dependency.id) : nullptr;
        if (!needed)
            continue;
        QString latest;
        if (needed->state() == Package::AVAILABLE)
            installPackage(needed, latest);
        else if (needed->state() == Package::INSTALLED
                 && compareVersions(installedVersion(needed), dependency.minimum) < 0)
            installPackage(needed, latest);
    }
}

void PackageController::installPackage(const QSharedPointer<Package> &package, QString &version)
{
    if (!package || package->versions().isEmpty())
        return;
    const QSharedPointer<PackageVersion> target = resolvedVersion(package, version);
    // A package that depends on itself, directly or not, is handled once.
    if (m_installChain.contains(package->id()))
        return;
    m_installChain.insert(package->id());
    installDependencies(package, version);
    m_installChain.remove(package->id());

    QSharedPointer<Models::Download> download = m_downloadManager->find(target->link);
    if (!download)
        download = QSharedPointer<Models::Download>::create(target->link, true);

    Models::Download *source = download.data();
    connect(source, QOverload<qlonglong>::of(&Models::Download::fileSize), package.data(), &Package::totalSize);
    connect(source, QOverload<qlonglong>::of(&Models::Download::currentSize), package.data(),
            &Package::downloadedSize);
    connect(source, &Models::Download::finished, package.data(), &Package::downloadFinished);
    // Set by the error handler; a download that failed is never installed.
    auto failed = QSharedPointer<bool>::create(false);
    const QString resolved = version;
    connect(source, &Models::Download::error, package.data(), [this, package, resolved, failed](const QString &) {
        *failed = true;
        onDownloadError(package, resolved);
    });
    // The download is held weakly: it holds these connections, and a strong reference would keep it alive.
    QWeakPointer<Models::Download> weak = download;
    connect(source, &Models::Download::processChanged, package.data(),
            [this, package, resolved, weak, failed](Models::Download::Process process) {
                if (!*failed)
                    onDownloadProcess(package, resolved, weak.toStrongRef(), process);
            });
    download->notifyState();
    m_downloadManager->add(download);
}

void PackageController::onDownloadError(const QSharedPointer<Package> &package, const QString &version)
{
    package->setState(Package::DOWNLOAD_ERROR);
    saveState(package, version);
    // Entries waiting on this package are dropped now rather than at the next arrival.
    processPendingInstallations();
}

void PackageController::onDownloadProcess(const QSharedPointer<Package> &package, const QString &version,
                                          const QSharedPointer<Models::Download> &download, int process)
{
    switch (process) {
    case Models::Download::CHECKING:
        package->setState(Package::PREPARING);
        break;
    case Models::Download::DOWNLOADING:
        package->setState(Package::DOWNLOADING);
        saveState(package, version);
        break;
    case Models::Download::FINISHED:
        package->setState(Package::INSTALLING);
        saveState(package, version);
        // A download reached through two package objects (a catalogue reload in between) is queued once.
        if (download && !isQueuedOrInstalling(package->id()))
            m_pendingInstallations.append({ package, version, download->path() });
        processPendingInstallations();
        break;
    default:
        break;
    }
}

bool PackageController::isQueuedOrInstalling(int id) const
{
    if (m_installing && m_installingId == id)
        return true;
    return std::any_of(m_pendingInstallations.cbegin(), m_pendingInstallations.cend(),
                       [id](const PendingInstallation &entry) { return entry.package->id() == id; });
}

bool PackageController::waitsOn(int waitingId, int targetId, QSet<int> &visited) const
{
    if (visited.contains(waitingId))
        return false;
    visited.insert(waitingId);
    for (const PendingInstallation &entry : m_pendingInstallations) {
        if (entry.package->id() != waitingId)
            continue;
        QString version = entry.version;
        for (const QString &text : resolvedVersion(entry.package, version)->depends) {
            const Dependency dependency = parseDependency(text);
            if (dependency.valid && (dependency.id == targetId || waitsOn(dependency.id, targetId, visited)))
                return true;
        }
    }
    return false;
}

void PackageController::processPendingInstallations()
{
    // A pass that drops an entry looks again, so that a chain of waiting entries goes at once.
    bool dropped = true;
    while (dropped) {
        dropped = false;
        if (m_installing || m_pendingInstallations.isEmpty())
            return;
        for (int i = 0; i < m_pendingInstallations.size();) {
            const PendingInstallation entry = m_pendingInstallations.at(i);
            const QSharedPointer<Package> &package = entry.package;
            QString version = entry.version;
            const QStringList depends = resolvedVersion(package, version)->depends;
            bool ready = true;
            for (const QString &text : depends) {
                const Dependency dependency = parseDependency(text);
                const QSharedPointer<Package> needed = dependency.valid ? findPackage(dependency.id) : nullptr;
                if (!needed || isFailed(needed->state())) {
                    package->setState(Package::DEPENDENCY_ERROR);
                    ready = false;
                    break;
                }
                if (needed->state() == Package::INSTALLED)
                    continue;
                // Two queued packages that need each other: the first in the queue goes first.
                QSet<int> visited;
                if (!(isQueuedOrInstalling(needed->id()) && waitsOn(needed->id(), package->id(), visited)))
                    ready = false;
            }
            if (ready) {
                m_pendingInstallations.removeAt(i);
                startInstallation(entry);
                return;
            }
            if (package->state() == Package::DEPENDENCY_ERROR) {
                m_pendingInstallations.removeAt(i);
                dropped = true;
            } else {
                ++i;
            }
            saveState(package, entry.version);
        }
    }
}

void PackageController::startInstallation(const PendingInstallation &entry)
{
    // Raised here and lowered by the completion handler: no second task can slip in between.
    m_installing = true;
    m_installingId = entry.package->id();
    m_installationWatcher.disconnect();
    connect(&m_installationWatcher, &QFutureWatcher<bool>::finished, this,
            [this, entry] { onInstallationFinished(entry); });
    // Everything the task needs is taken here, on this thread.
    const FileContext context = fileContext(entry.package);
    m_installationFuture = QtConcurrent::run([this, entry, context] {
        const bool installed = install(entry.package, entry.version, entry.archivePath, context);
        qDebug() << "Removing file : " << entry.archivePath;
        QFile::remove(entry.archivePath);
        return installed;
    });
    m_installationWatcher.setFuture(m_installationFuture);
}

void PackageController::onInstallationFinished(const PendingInstallation &entry)
{
    const bool installed = m_installationFuture.result();
    setStateEverywhere(entry.package, installed ? Package::INSTALLED : Package::INSTALL_ERROR);
    saveState(entry.package, entry.version);
    m_installingId = -1;
    m_installing = false;
    processPendingInstallations();
}

void PackageController::setStateEverywhere(const QSharedPointer<Package> &package, Package::State state)
{
    package->setState(state);
    // After a catalogue reload the list shows another object for the same package.
    const QSharedPointer<Package> current = findPackage(package->id());
    if (current && current != package) {
        current->setHasUpdate(package->hasUpdate());
        current->setState(state);
    }
}

void PackageController::uninstallPackage(const QSharedPointer<Package> &package)
{
    if (!package || m_uninstallChain.contains(package->id()))
        return;
    m_uninstallChain.insert(package->id());
    const QString installed = installedVersion(package);
    for (const QSharedPointer<Package> &dependent : dependents(package, QString()))
        uninstallPackage(dependent);
    package->setState(Package::UNINSTALLING);
    removeInstalledFiles(package, fileContext(package));
    package->setState(Package::AVAILABLE);
    saveState(package, installed);
    m_uninstallChain.remove(package->id());
}

QSharedPointer<Models::Download> PackageController::activeDownload(const QSharedPointer<Package> &package)
{
    if (package->state() != Package::DOWNLOADING && package->state() != Package::INSTALLING)
        return {};
    const QString installed = installedVersion(package);
    if (installed.isEmpty() || package->versions().isEmpty())
        return {};
    return m_downloadManager->find(package->versions().at(Models::versionIndex(package, installed))->link);
}

void PackageController::setCatalogueUrl(const QString &url)
{
    m_catalogueUrl = url;
}

void PackageController::loadCatalogue()
{
    emit busy();
    ensureDir(m_preserveFolder, true);
    ensureDir(m_backupFolder, true);
    openDatabase();
    m_packageList.clear();

    if (m_settings->current().localRepo.value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) {
        m_localRepositoryTimer.start();
        return;
    }

    auto download = QSharedPointer<Models::Download>::create(
        m_catalogueUrl.isEmpty() ? catalogueUrl() : m_catalogueUrl, false);
    // A failed download keeps its error on screen: what is left in the file is not a catalogue.
    auto failed = QSharedPointer<bool>::create(false);
    connect(download.data(), &Models::Download::error, this, [this, failed](const QString &text) {
        *failed = true;
        emit error(text);
    });
    connect(download.data(), &Models::Download::finished, this, [this, failed](const QString &path) {
        if (!*failed)
            parseCatalogue(path);
    });
    m_downloadManager->add(download);
}

void PackageController::parseCatalogue(const QString &path)
{
    // Two loads that overlap must not leave every package twice in the list.
    m_packageList.clear();
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QString language = m_settings->current().language.value;
        const QJsonArray entries = QJsonDocument::fromJson(file.readAll()).array();
        for (const QJsonValue &entry : entries) {
            const QJsonObject object = entry.toObject();
            QVector<QSharedPointer<PackageVersion>> versions;
            for (const QJsonValue &version : object.value(QStringLiteral("versions")).toArray())
                versions << parseVersion(version.toObject());
            if (versions.isEmpty())
                continue;
            std::sort(versions.begin(), versions.end(), [](const auto &a, const auto &b) {
                return QVersionNumber::compare(QVersionNumber::fromString(a->version),
                                               QVersionNumber::fromString(b->version))
                       > 0;
            });

            auto package = QSharedPointer<Package>(new Package);
            package->setName(localized(object.value(QStringLiteral("name")), language));
            const QJsonValue id = object.value(QStringLiteral("id"));
            package->setId(id.isDouble() ? id.toInt() : 0);
            package->setState(Package::AVAILABLE);
            package->setShortDescription(localized(object.value(QStringLiteral("short_description")), language));
            package->setDescription(localized(object.value(QStringLiteral("description")), language));
            package->setType(jsonString(object.value(QStringLiteral("type"))));
            package->setIcon(jsonString(object.value(QStringLiteral("icon"))));
            package->setManualUrl(jsonString(object.value(QStringLiteral("manual_url"))));
            package->setHelpUrl(jsonString(object.value(QStringLiteral("help_url"))));
            package->setBanners(jsonStrings(object.value(QStringLiteral("banner"))));
            package->setVersions(versions);

            if (databaseStatus(package) == Package::INSTALLED) {
                package->setState(Package::INSTALLED);
                const QVersionNumber installed = QVersionNumber::fromString(installedVersion(package));
                const QVersionNumber latest = QVersionNumber::fromString(versions.first()->version);
                if (installed.isNull() || (!latest.isNull() && latest > installed))
                    package->setHasUpdate(true);
            }
            m_packageList.append(package);
        }
        file.close();
    }
    emit update();
    emit list();
}

QString PackageController::changeLogHtml(const QSharedPointer<Package> &package, const QString &version)
{
    if (package->state() != Package::INSTALLED)
        return QString();
    const QString installed = installedVersion(package);
    if (installed.isEmpty())
        return QString();
    const int installedIndex = Models::versionIndex(package, installed);
    const int targetIndex = Models::versionIndex(package, version);
    if (installedIndex <= targetIndex)
        return QString();

    const QVector<QSharedPointer<PackageVersion>> versions = package->versions();
    QString html;
    for (int k = targetIndex; k < installedIndex; ++k)
        html += changeLogEntryHtml(*versions.at(k));
    return html;
}

QString PackageController::changeLogEntryHtml(const PackageVersion &version)
{
    QString html = QStringLiteral("<strong>") + version.version + QStringLiteral("</strong>");
    // The stray ">" is how the program has always written it.
    if (version.log.isEmpty())
        return html + QStringLiteral("<p>Not available></p>");
    html += QStringLiteral("<ul>");
    for (const QString &line : version.log)
        html += QStringLiteral("<li>") + line + QStringLiteral("</li>");
    return html + QStringLiteral("</ul>");
}

Dependency PackageController::parseDependency(const QString &entry)
{
    Dependency dependency;
    if (entry.isEmpty()) {
        qDebug() << "Invalid dependency info";
        return dependency;
    }
    const QStringList parts = entry.split(QLatin1Char(':'));
    dependency.id = parts.first().toInt();
    dependency.minimum = parts.value(1);
    dependency.valid = true;
    return dependency;
}

FileContext PackageController::fileContext(const QSharedPointer<Package> &package)
{
    FileContext context;
    context.root = m_settings->current().installation.value;
    context.preserveFolder = m_preserveFolder;
    context.backupFolder = m_backupFolder;
    const QVector<QSharedPointer<PackageVersion>> versions = package->versions();
    if (versions.isEmpty())
        return context;
    context.installed = versions.at(Models::versionIndex(package, installedVersion(package)));
    for (const QSharedPointer<Package> &other : qAsConst(m_packageList)) {
        if (other->id() == package->id() || other->state() != Package::INSTALLED || other->versions().isEmpty())
            continue;
        QString version = installedVersion(other);
        for (const QString &entry : resolvedVersion(other, version)->install->backup) {
            const QString key = QDir::cleanPath(QDir::fromNativeSeparators(entry));
            if (!context.sharedBackups.contains(key))
                context.sharedBackups << key;
        }
    }
    return context;
}

bool PackageController::install(const QSharedPointer<Package> &package, const QString &version,
                                const QString &archivePath, const FileContext &context) const
{
    if (archivePath.isEmpty() || package->versions().isEmpty())
        return false;
    const QString extract = package->versions().at(Models::versionIndex(package, version))->install->extract;
    // Refused before anything is touched.
    if (!staysInside(extract)) {
        qDebug() << "Extract folder outside the X-Plane folder : " << extract;
        return false;
    }
    preserveFiles(package, version, context);
    // Saved before the remove list can delete it: on a first install that list may name X-Plane's own file.
    backupFiles(package, version, context);
    removeInstalledFiles(package, context);
    backupFiles(package, version, context);
    if (!extractArchive(package, version, archivePath, true, context))
        return false;
    restorePreservedFiles(package, version, context);
    // An older version installed on purpose still has the newest one to update to.
    package->setHasUpdate(Models::versionIndex(package, version) != 0);
    package->setState(Package::INSTALLED);
    return true;
}

bool PackageController::preserveFiles(const QSharedPointer<Package> &package, const QString &version,
                                      const FileContext &context) const
{
    const auto target = package->versions().at(Models::versionIndex(package, version));
    for (const QString &entry : qAsConst(target->install->preserve)) {
        const QString source = entryLocation(context.root, entry);
        if (source.isEmpty())
            continue;
        const QString copy = context.preserveFolder + QDir::separator() + entry;
        const QFileInfo info(source);
        if (!info.exists())
            continue;
        ensureDir(parentFolder(copy), true);
        // A copy left by an earlier, unfinished run is the user's file: it wins.
        if (info.isFile() && !QFileInfo::exists(copy))
            QFile::copy(source, copy);
    }
    return true;
}

bool PackageController::backupFiles(const QSharedPointer<Package> &package, const QString &version,
                                    const FileContext &context) const
{
    const auto target = package->versions().at(Models::versionIndex(package, version));
    for (const QString &entry : qAsConst(target->install->backup)) {
        const QString source = entryLocation(context.root, entry);
        if (source.isEmpty())
            continue;
        const QString copy = context.backupFolder + QDir::separator() + entry;
        const QFileInfo info(source);
        if (!info.exists() || QFileInfo::exists(copy))
            continue;
        ensureDir(parentFolder(copy), true);
        if (info.isFile())
            QFile::copy(source, copy);
    }
    return true;
}

bool PackageController::extractArchive(const QSharedPointer<Package> &package, const QString &version,
                                       const QString &archivePath, bool deleteArchive,
                                       const FileContext &context) const
{
    const QString extract = package->versions().at(Models::versionIndex(package, version))->install->extract;
    if (!staysInside(extract))
        return false;
    const QString folder = context.root + QDir::separator() + extract + QDir::separator();
    ensureDir(folder, true);
    Extractors::P7ZipExtractor extractor;
    const bool extracted = extractor.extract(archivePath, folder);
    if (extracted && deleteArchive)
        QFile::remove(archivePath);
    return extracted;
}

bool PackageController::restorePreservedFiles(const QSharedPointer<Package> &package, const QString &version,
                                              const FileContext &context) const
{
    const auto target = package->versions().at(Models::versionIndex(package, version));
    for (const QString &entry : qAsConst(target->install->preserve)) {
        const QString destination = entryLocation(context.root, entry);
        if (destination.isEmpty())
            continue;
        const QString copy = context.preserveFolder + QDir::separator() + entry;
        const QFileInfo saved(copy);
        if (!saved.exists())
            continue;
        // The user's file replaces whatever the archive brought in its place.
        if (saved.isFile())
            putBack(copy, destination);
        else
            QDir().mkdir(parentFolder(destination));
    }
    return true;
}

bool PackageController::removeInstalledFiles(const QSharedPointer<Package> &package,
                                             const FileContext &context) const
{
    if (context.installed) {
        for (const QString &entry : qAsConst(context.installed->uninstall->remove)) {
            const QString path = entryLocation(context.root, entry);
            if (path.isEmpty())
                continue;
            const QFileInfo info(path);
            // A link goes, never what it points at.
            if (info.isSymLink()) {
                QFile::remove(path);
            } else if (info.isDir()) {
                QDir(path).removeRecursively();
                qDebug() << "Removing directory : " << path;
            } else if (info.exists()) {
                QFile::remove(path);
            }
        }
    }
    restoreBackupFiles(package, context);
    return true;
}

bool PackageController::restoreBackupFiles(const QSharedPointer<Package> &, const FileContext &context) const
{
    if (!context.installed)
        return true;
    for (const QString &entry : qAsConst(context.installed->install->backup)) {
        const QString destination = entryLocation(context.root, entry);
        if (destination.isEmpty())
            continue;
        const QString copy = context.backupFolder + QDir::separator() + entry;
        const QFileInfo saved(copy);
        if (!saved.exists() || context.sharedBackups.contains(QDir::cleanPath(QDir::fromNativeSeparators(entry))))
            continue;
        // X-Plane's own file goes back over the package's version of it.
        if (saved.isFile())
            putBack(copy, destination);
        else
            ensureDir(parentFolder(destination), true);
    }
    return true;
}

void PackageController::openDatabase()
{
    if (m_database.isOpen())
        return;
    m_database = QSqlDatabase::contains(connectionName)
                     ? QSqlDatabase::database(connectionName, false)
                     : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    m_database.setDatabaseName(dataDir() + QStringLiteral("packages.db"));
    if (!m_database.open()) {
        qDebug() << m_database.lastError().text();
        return;
    }
    QSqlQuery query(m_database);
    query.prepare(QStringLiteral("CREATE TABLE IF NOT EXISTS packages (id         INTEGER     PRIMARY KEY "
                                 "AUTOINCREMENT,package_id INTEGER     UNIQUE,version STRING,status     INTEGER (1) "
                                 "NOT NULL);"));
    execLogged(query);
}

void PackageController::saveState(const QSharedPointer<Package> &package, const QString &version)
{
    if (!m_database.isOpen())
        return;
    QSqlQuery select(m_database);
    select.prepare(QStringLiteral("SELECT id FROM packages WHERE package_id = :package_id"));
    select.bindValue(QStringLiteral(":package_id"), package->id());
    if (!execLogged(select))
        return;

    QSqlQuery write(m_database);
    if (select.next()) {
        write.prepare(QStringLiteral(
            "UPDATE packages SET status = :status, version = :version WHERE package_id = :package_id"));
    } else {
        write.prepare(
            QStringLiteral("INSERT INTO packages(package_id,status,version) VALUES (:package_id,:status,:version)"));
    }
    write.bindValue(QStringLiteral(":package_id"), package->id());
    write.bindValue(QStringLiteral(":status"), int(package->state()));
    write.bindValue(QStringLiteral(":version"), version);
    execLogged(write);
}

int PackageController::databaseStatus(const QSharedPointer<Package> &package)
{
    if (!m_database.isOpen())
        return Package::UNKNOWN;
    QSqlQuery query(m_database);
    query.prepare(QStringLiteral("SELECT status FROM packages WHERE package_id = :package_id"));
    query.bindValue(QStringLiteral(":package_id"), package->id());
    if (!execLogged(query))
        return -1;
    if (query.next())
        return query.value(0).toInt();
    return versionFromFile(package).isEmpty() ? -1 : int(Package::INSTALLED);
}

QString PackageController::databaseVersion(const QSharedPointer<Package> &package)
{
    if (!m_database.isOpen())
        return QString();
    QSqlQuery query(m_database);
    query.prepare(QStringLiteral("SELECT version FROM packages WHERE package_id = :package_id"));
    query.bindValue(QStringLiteral(":package_id"), package->id());
    if (!execLogged(query) || !query.next())
        return QString();
    return query.value(0).toString();
}

QString PackageController::installedVersion(const QSharedPointer<Package> &package)
{
    const QString recorded = databaseVersion(package);
    if (recorded.isEmpty())
        return versionFromFile(package);
    // The version column stores "2.0" as the number 2; give back the catalogue's own spelling of it.
    const QVersionNumber number = QVersionNumber::fromString(recorded).normalized();
    QString spelled = recorded;
    for (const QSharedPointer<PackageVersion> &version : package->versions()) {
        if (version->version == recorded)
            return recorded;
        if (spelled == recorded && !number.isNull()
            && QVersionNumber::fromString(version->version).normalized() == number)
            spelled = version->version;
    }
    return spelled;
}

QString PackageController::versionFilePath(const QString &root, const QSharedPointer<Package> &package)
{
    const QChar separator = QDir::separator();
    QString path = root + separator + package->versions().first()->install->extract + separator;
    // The library keeps its version file one level deeper.
    if (package->id() == 1)
        path += QStringLiteral("lib") + separator + QStringLiteral("KOV_Library") + separator;
    return path + QStringLiteral("KOV_version.txt");
}

QString PackageController::versionFromFile(const QSharedPointer<Package> &package)
{
    if (package->versions().isEmpty())
        return QString();
    QFile file(versionFilePath(m_settings->current().installation.value, package));
    if (!file.exists() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream stream(&file);
    QString version;
    for (int line = 0; line < 3; ++line)
        version = stream.readLine();
    if (!version.isEmpty()) {
        package->setState(Package::INSTALLED);
        saveState(package, version);
    }
    return version;
}

void PackageController::resetDatabase()
{
    const QString file = m_database.databaseName();
    if (!file.isEmpty() && QFileInfo::exists(file)) {
        m_database.close();
        QFile::remove(file);
    }
    m_downloadManager->removeDatabase();
}

} // namespace KOV::Controllers
