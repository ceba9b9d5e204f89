#pragma once

#include <QObject>
#include <QSharedPointer>
#include <QStringList>
#include <QVector>

#include <atomic>

namespace KOV::Models {

struct InstallInstructions
{
    QString extract;
    QStringList preserve;
    QStringList backup;
};

struct UninstallInstructions
{
    QStringList remove;
};

struct PackageVersion
{
    QString version;
    QString link;
    /** Other places of the same archive, tried in order when `link` fails; the checksum decides. */
    QStringList mirrors;
    /** The archive's SHA-256 in hex and its size in bytes, when the catalogue gives them. */
    QString sha256;
    qint64 size = 0;
    QStringList depends;
    QSharedPointer<InstallInstructions> install;
    QSharedPointer<UninstallInstructions> uninstall;
    QStringList log;
};

/** One add-on of the catalogue: its texts, its versions (newest first) and where it stands on this machine.
 */
class Package final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Package)
public:
    enum State {
        AVAILABLE = 0,
        INSTALLED = 1,
        PREPARING = 2,
        DOWNLOADING = 3,
        INSTALLING = 4,
        UNINSTALLING = 5,
        INSTALL_ERROR = 6,
        DOWNLOAD_ERROR = 7,
        DEPENDENCY_ERROR = 8,
        UNKNOWN = 9
    };
    Q_ENUM(State)

    explicit Package(QObject *parent = nullptr);

    /** Lets states and packages travel through queued connections; "State" is the signal's own type name. */
    static void registerMetaTypes();

    int id() const { return m_id; }
    QString name() const { return m_name; }
    QString description() const { return m_description; }
    QString icon() const { return m_icon; }
    QString type() const { return m_type; }
    QString shortDescription() const { return m_shortDescription; }
    QString manualUrl() const { return m_manualUrl; }
    QString helpUrl() const { return m_helpUrl; }
    State state() const { return m_state.load(); }
    QStringList banners() const { return m_banners; }
    bool hasUpdate() const { return m_hasUpdate.load(); }
    /** The catalogue's optional `paid`: a package sold elsewhere; free when absent. */
    bool isPaid() const { return m_paid; }
    QVector<QSharedPointer<PackageVersion>> versions() const { return m_versions; }
    /** Why the last download, installation or uninstallation failed; empty when it did not. */
    QString failureReason() const { return m_failureReason; }
    /** The size and progress of the current download, for a view that opens while it runs. */
    qint64 downloadTotal() const { return m_downloadTotal.load(); }
    qint64 downloadDone() const { return m_downloadDone.load(); }

    void setId(int id) { m_id = id; }
    void setName(const QString &name) { m_name = name; }
    void setDescription(const QString &description) { m_description = description; }
    void setIcon(const QString &icon) { m_icon = icon; }
    void setType(const QString &type) { m_type = type; }
    void setShortDescription(const QString &text) { m_shortDescription = text; }
    void setManualUrl(const QString &url) { m_manualUrl = url; }
    void setHelpUrl(const QString &url) { m_helpUrl = url; }
    void setState(State state);
    void setBanners(const QStringList &banners) { m_banners = banners; }
    void setHasUpdate(bool hasUpdate) { m_hasUpdate.store(hasUpdate); }
    void setPaid(bool paid) { m_paid = paid; }
    void setVersions(const QVector<QSharedPointer<PackageVersion>> &versions) { m_versions = versions; }
    void setFailureReason(const QString &reason) { m_failureReason = reason; }
    /** Keep the figure and emit totalSize() or downloadedSize(). */
    void reportTotalSize(qlonglong size);
    void reportDownloadedSize(qlonglong size);
    /** A new download starts counting from nothing. */
    void resetDownloadProgress();
    /** The step an installation has reached ("saving", "unpacking", ...); from the installation's thread too. */
    void reportInstallStep(const QString &step) { emit installStep(step); }

signals:
    void stateChanged(State state);
    void totalSize(qlonglong size);
    void downloadedSize(qlonglong size);
    void error(QString error);
    void downloadFinished(QString path);
    /** Emitted on the installation's thread; a widget's connection takes it to the interface's. */
    void installStep(QString step);
    void installed();

private:
    int m_id = 0;
    QString m_name;
    QString m_description;
    QString m_icon;
    QString m_type;
    QString m_shortDescription;
    QString m_manualUrl;
    QString m_helpUrl;
    // Written by the installation task while the GUI thread reads them.
    std::atomic<State> m_state { UNKNOWN };
    QStringList m_banners;
    std::atomic<bool> m_hasUpdate { false };
    bool m_paid = false;
    QVector<QSharedPointer<PackageVersion>> m_versions;
    QString m_failureReason;
    std::atomic<qint64> m_downloadTotal { 0 };
    std::atomic<qint64> m_downloadDone { 0 };
};

/** The position of `version` among the package's versions; 0 (the newest) when it is empty or not offered. */
int versionIndex(const QSharedPointer<Package> &package, const QString &version);

} // namespace KOV::Models

Q_DECLARE_METATYPE(QSharedPointer<KOV::Models::Package>)
