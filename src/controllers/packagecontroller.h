#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QSharedPointer>
#include <QTimer>
#include <QVector>

#include "controllers/catalogueloader.h"
#include "controllers/changejournal.h"
#include "controllers/dependencyresolver.h"
#include "controllers/installqueue.h"
#include "controllers/packagedatabase.h"
#include "controllers/packagefilter.h"
#include "controllers/packageinstaller.h"
#include "models/package.h"
#include "models/retiredpackages.h"

namespace KOV {
class Settings;
namespace Managers {
class DownloadManager;
}
namespace Models {
class Download;
}
} // namespace KOV

namespace KOV::Controllers {

/** Owns the catalogue and orchestrates every change to installed packages: states, signals, order of steps.
 */
class PackageController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PackageController)
public:
    PackageController(QSharedPointer<KOV::Settings> settings,
                      QSharedPointer<Managers::DownloadManager> downloadManager, QObject *parent = nullptr);
    ~PackageController() override;

    QSharedPointer<KOV::Settings> settings() const { return m_settings; }
    QSharedPointer<Managers::DownloadManager> downloadManager() const { return m_downloadManager; }
    QVector<QSharedPointer<Models::Package>> packages() const { return m_packageList; }
    bool isInstalling() const { return m_queue.isInstalling(); }
    /** What the list shows; the top bar and the sidebar change it. */
    PackageFilter *filter() { return &m_filter; }
    QVector<QString> categories() const { return { QStringLiteral("PLUGIN"), QStringLiteral("LIBRARY") }; }

    void showDetail(const QSharedPointer<Models::Package> &package) { emit detail(package); }
    void showList() { emit list(); }

    QVector<QSharedPointer<Models::Package>> dependencies(const QSharedPointer<Models::Package> &package,
                                                          QString &version)
    {
        return m_resolver.dependencies(package, version);
    }
    QVector<QSharedPointer<Models::Package>> dependents(const QSharedPointer<Models::Package> &package,
                                                        const QString &version)
    {
        return m_resolver.dependents(package, version);
    }
    void installPackage(const QSharedPointer<Models::Package> &package, QString &version);
    void uninstallPackage(const QSharedPointer<Models::Package> &package);
    /** Starts the version that failed (download, installation or dependency) again. */
    void retry(const QSharedPointer<Models::Package> &package);
    /**
     * Stops the download of a package that is preparing or downloading; its partial archive stays, it returns
     * to the state it had, and the packages on their way that need it fail with DEPENDENCY_ERROR.
     */
    void cancel(const QSharedPointer<Models::Package> &package);
    /** Installed packages with a newer version in the catalogue. */
    QVector<QSharedPointer<Models::Package>> updatable() const { return m_resolver.updatable(); }
    QVector<QSharedPointer<Models::Package>>
    comingAlong(const QVector<QSharedPointer<Models::Package>> &packages) const
    {
        return m_resolver.comingAlong(packages);
    }
    /** What installing `version` of `package` brings along: not installed, or installed too old. */
    QVector<QSharedPointer<Models::Package>> comingAlong(const QSharedPointer<Models::Package> &package,
                                                         const QString &version) const
    {
        return m_resolver.comingAlong(package, version);
    }
    /** The answer to conflictsFound(): overwrite the other packages' files, or leave the package as it was.
     */
    void resolveConflicts(const QSharedPointer<Models::Package> &package, bool overwrite);
    QSharedPointer<Models::Download> activeDownload(const QSharedPointer<Models::Package> &package);
    void processPendingInstallations() { m_queue.process(); }

    void loadCatalogue();
    void parseCatalogue(const QString &path) { m_loader.read(path); }
    QString changeLogHtml(const QSharedPointer<Models::Package> &package, const QString &version);
    static QString changeLogEntryHtml(const Models::PackageVersion &version);
    /** Keys and kept state of the signed catalogue, for a run that is not the user's (the tests). */
    void setTrustedKeys(const QVector<CatalogueTrust::Key> &keys) { m_loader.setTrustedKeys(keys); }
    void setTrustFolder(const QString &folder) { m_loader.setTrustFolder(folder); }
    /** Whether the publisher's signature vouched for the packages shown. */
    bool isCatalogueVerified() const { return m_catalogueVerified; }
    /** The catalogue address: the base URL chosen at build time plus "packages.json". */
    static QString catalogueUrl();
    /** Another catalogue address for this run (the tests serve theirs on a free port). */
    void setCatalogueUrl(const QString &url) { m_catalogueUrl = url; }
    static Dependency parseDependency(const QString &entry) { return DependencyResolver::parse(entry); }

    /** The folders and installed instructions that the file operations of `package` work from. */
    FileContext fileContext(const QSharedPointer<Models::Package> &package);

    void openDatabase();
    void saveState(const QSharedPointer<Models::Package> &package, const QString &version)
    {
        m_database.saveState(package, version);
    }
    int databaseStatus(const QSharedPointer<Models::Package> &package) { return m_database.status(package); }
    QString databaseVersion(const QSharedPointer<Models::Package> &package)
    {
        return m_database.version(package);
    }
    QString installedVersion(const QSharedPointer<Models::Package> &package)
    {
        return m_database.installedVersion(package);
    }
    /** The version that is installed on disk as the user should see it: none while the package is not. */
    QString shownVersion(const QSharedPointer<Models::Package> &package);
    /** "Version 3.0: the server answered 404 Not Found." */
    static QString failureText(const QString &version, const QString &reason);
    QString versionFromFile(const QSharedPointer<Models::Package> &package)
    {
        return m_database.versionFromFile(package);
    }
    void resetDatabase();
    /** A language change: the installed-package rows go, what is known of files and downloads stays. */
    void resetInstalledRecords() { m_database.resetRecords(); }
    /** The files the package's installation put in place, as recorded. */
    QVector<ManifestEntry> manifest(const QSharedPointer<Models::Package> &package)
    {
        return m_database.manifest(package->id());
    }
    static QString versionFilePath(const QString &root, const QSharedPointer<Models::Package> &package)
    {
        return PackageDatabase::versionFilePath(root, package);
    }

signals:
    void update();
    void busy();
    void empty();
    void list();
    void error(QString error);
    /** A newer catalogue was refused (`text` says why) and the last accepted one is shown; empty when not. */
    void notice(QString text);
    void detail(QSharedPointer<KOV::Models::Package> package);
    /** An uninstallation changed nothing: these entries could not be removed. */
    void uninstallFailed(QSharedPointer<KOV::Models::Package> package, QStringList leftovers);
    /** The archive of `package` holds files that `owners` put in place; nothing changed until
     * resolveConflicts(). */
    void conflictsFound(QSharedPointer<KOV::Models::Package> package, QString owners, QStringList files);
    /** packages.db could not be used; it was moved to `brokenFile` and is rebuilt from the version files. */
    void databaseRebuilt(QString brokenFile);
    /** packages.db is held by another program (`busy`) or refused (`detail` says why); it was left as it is. */
    void databaseUnavailable(bool busy, QString file, QString detail);
    /** An installation or uninstallation ended, done or not; the package shows how. */
    void changeEnded(QSharedPointer<KOV::Models::Package> package);

private:
    void setPackages(const QVector<QSharedPointer<Models::Package>> &packages);
    void onCatalogueLoaded(const QVector<QSharedPointer<Models::Package>> &packages, bool verified,
                           const QString &notice);
    void onDownloadError(const QSharedPointer<Models::Package> &package, const QString &version,
                         const QString &reason);
    void onDownloadProcess(const QSharedPointer<Models::Package> &package, const QString &version,
                           const QSharedPointer<Models::Download> &download, int process);
    InstallQueue::Task installationTask(const PendingInstallation &entry);
    void onInstallationFinished(const PendingInstallation &entry, const InstallOutcome &outcome);
    void saveFailure(const QSharedPointer<Models::Package> &package, const QString &version);
    void setStateEverywhere(const QSharedPointer<Models::Package> &package, Models::Package::State state);

    QVector<QSharedPointer<Models::Package>> m_packageList;
    // Lists replaced by a newer read, let go of a slice per turn of the event loop.
    Models::RetiredPackages m_retired;
    PackageFilter m_filter;
    QSharedPointer<KOV::Settings> m_settings;
    QSharedPointer<Managers::DownloadManager> m_downloadManager;
    CatalogueLoader m_loader;
    QString m_catalogueUrl;
    bool m_catalogueVerified = false;
    // Ids on the current path of the install and uninstall recursions, so that cycles end.
    QSet<int> m_installChain;
    QSet<int> m_uninstallChain;
    QSet<int> m_installAfterUninstall;
    // The version that stays on disk while another one is downloaded and installed.
    QHash<int, QString> m_keptVersion;
    // The version whose download or installation failed, for retry().
    QHash<int, QString> m_failedVersions;
    // The version each download on its way brings, for cancel().
    QHash<int, QString> m_downloadingVersions;
    // Downloaded archives waiting for the answer about other packages' files.
    QHash<int, PendingInstallation> m_conflicted;
    // Declared in this order so that the queue, whose task may still run, goes first.
    PackageDatabase m_database;
    ChangeJournal m_changes;
    DependencyResolver m_resolver;
    InstallQueue m_queue;
};

} // namespace KOV::Controllers
