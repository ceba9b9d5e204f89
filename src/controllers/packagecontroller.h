#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QSet>
#include <QSharedPointer>
#include <QSqlDatabase>
#include <QTimer>
#include <QVector>
#include <atomic>

#include "models/package.h"

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

/** An archive that is downloaded and waits for its turn to be installed. */
struct PendingInstallation
{
    QSharedPointer<Models::Package> package;
    QString version;
    QString archivePath;
};

/** What the file operations need, taken on the GUI thread: they never read the settings or the database. */
struct FileContext
{
    QString root;
    QString preserveFolder;
    QString backupFolder;
    QSharedPointer<Models::PackageVersion> installed; // as the database names it when the context is taken
    // Backup entries that other installed packages saved too: their copies stay until the last one goes.
    QStringList sharedBackups;
};

/** A dependency entry "id" or "id:minimum version". */
struct Dependency
{
    int id = 0;
    QString minimum;
    bool valid = false;
};

/** Owns the catalogue and every change to installed packages, and records them in packages.db. */
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
    bool isInstalling() const { return m_installing.load(); }
    QVector<QString> categories() const;

    void showDetail(const QSharedPointer<Models::Package> &package);
    void showList();

    QVector<QSharedPointer<Models::Package>> dependencies(const QSharedPointer<Models::Package> &package,
                                                          QString &version);
    QVector<QSharedPointer<Models::Package>> dependents(const QSharedPointer<Models::Package> &package,
                                                        const QString &version);
    void installPackage(const QSharedPointer<Models::Package> &package, QString &version);
    void uninstallPackage(const QSharedPointer<Models::Package> &package);
    QSharedPointer<Models::Download> activeDownload(const QSharedPointer<Models::Package> &package);
    void processPendingInstallations();

    void loadCatalogue();
    void parseCatalogue(const QString &path);
    QString changeLogHtml(const QSharedPointer<Models::Package> &package, const QString &version);
    /** One version in the change-log markup: its number in bold, then its lines. */
    static QString changeLogEntryHtml(const Models::PackageVersion &version);
    /** The catalogue address: the base URL chosen at build time plus "packages.json". */
    static QString catalogueUrl();
    /** Another catalogue address for this run (the tests serve theirs on a free port). */
    void setCatalogueUrl(const QString &url);
    static Dependency parseDependency(const QString &entry);

    FileContext fileContext(const QSharedPointer<Models::Package> &package);
    bool install(const QSharedPointer<Models::Package> &package, const QString &version,
                 const QString &archivePath, const FileContext &context) const;
    bool preserveFiles(const QSharedPointer<Models::Package> &package, const QString &version,
                       const FileContext &context) const;
    bool backupFiles(const QSharedPointer<Models::Package> &package, const QString &version,
                     const FileContext &context) const;
    bool extractArchive(const QSharedPointer<Models::Package> &package, const QString &version,
                        const QString &archivePath, bool deleteArchive, const FileContext &context) const;
    bool restorePreservedFiles(const QSharedPointer<Models::Package> &package, const QString &version,
                               const FileContext &context) const;
    bool removeInstalledFiles(const QSharedPointer<Models::Package> &package, const FileContext &context) const;
    bool restoreBackupFiles(const QSharedPointer<Models::Package> &package, const FileContext &context) const;

    void openDatabase();
    void saveState(const QSharedPointer<Models::Package> &package, const QString &version);
    int databaseStatus(const QSharedPointer<Models::Package> &package);
    QString databaseVersion(const QSharedPointer<Models::Package> &package);
    QString installedVersion(const QSharedPointer<Models::Package> &package);
    QString versionFromFile(const QSharedPointer<Models::Package> &package);
    void resetDatabase();

    /** The path of a package's KOV_version.txt below the X-Plane root. */
    static QString versionFilePath(const QString &root, const QSharedPointer<Models::Package> &package);

signals:
    void update();
    void busy();
    void empty();
    void list();
    void error(QString error);
    void detail(QSharedPointer<KOV::Models::Package> package);

private:
    QSharedPointer<Models::Package> findPackage(int id) const;
    void installDependencies(const QSharedPointer<Models::Package> &package, const QString &version);
    void onDownloadError(const QSharedPointer<Models::Package> &package, const QString &version);
    void onDownloadProcess(const QSharedPointer<Models::Package> &package, const QString &version,
                           const QSharedPointer<Models::Download> &download, int process);
    bool isQueuedOrInstalling(int id) const;
    bool waitsOn(int waitingId, int targetId, QSet<int> &visited) const;
    void startInstallation(const PendingInstallation &entry);
    void onInstallationFinished(const PendingInstallation &entry);
    void setStateEverywhere(const QSharedPointer<Models::Package> &package, Models::Package::State state);

    QVector<QSharedPointer<Models::Package>> m_packageList;
    QSharedPointer<KOV::Settings> m_settings;
    QSharedPointer<Managers::DownloadManager> m_downloadManager;
    QString m_preserveFolder;
    QString m_backupFolder;
    QVector<PendingInstallation> m_pendingInstallations;
    std::atomic<bool> m_installing { false };
    QFuture<bool> m_installationFuture;
    QFutureWatcher<bool> m_installationWatcher;
    QSqlDatabase m_database;
    QTimer m_localRepositoryTimer;
    QString m_catalogueUrl;
    // Ids on the current path of the install and uninstall recursions, so that cycles end.
    QSet<int> m_installChain;
    QSet<int> m_uninstallChain;
    int m_installingId = -1;
};

} // namespace KOV::Controllers
