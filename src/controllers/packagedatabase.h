#pragma once

#include <QHash>
#include <QSharedPointer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVector>

#include "models/package.h"

namespace KOV {
class Settings;
}

namespace KOV::Controllers {

class FolderPresence;

/** One file an installation put into the X-Plane folder, as the archive listed it. */
struct ManifestEntry
{
    QString path; // relative to the X-Plane folder
    qint64 size = 0;
    quint32 crc = 0;
};

/** packages.db: the state and version last recorded per package, and the version files of the X-Plane folder.
 */
class PackageDatabase final
{
    Q_DISABLE_COPY_MOVE(PackageDatabase)
public:
    explicit PackageDatabase(QSharedPointer<KOV::Settings> settings);
    ~PackageDatabase();

    void open();
    bool isOpen() const { return m_database.isOpen(); }
    /** Records the package's state as it is now (or `status` when given), with `version`. */
    void saveState(const QSharedPointer<Models::Package> &package, const QString &version, int status = -1);
    int status(const QSharedPointer<Models::Package> &package);
    QString version(const QSharedPointer<Models::Package> &package);
    /** The recorded version in the catalogue's spelling, else the version file's. */
    QString installedVersion(const QSharedPointer<Models::Package> &package);
    /** The third line of the package's version file; a package found this way is recorded as installed. */
    QString versionFromFile(const QSharedPointer<Models::Package> &package);
    /** A package's row: its status and version. */
    struct Record
    {
        int status = -1;
        QString version;
    };
    /** Every row, in one query: a catalogue is merged from it without a query per package. */
    QHash<int, Record> records();
    /**
     * Sets INSTALLED and the update flag on a freshly read package that `records` say is installed; only a
     * package without a row whose folder `folders` finds has its version file probed.
     */
    void mergeInstalledState(const QSharedPointer<Models::Package> &package,
                             const QHash<int, Record> &records, FolderPresence &folders);
    /** Closes and deletes the file. */
    void reset();
    /** Forgets every package's recorded state and version, to be rebuilt from the version files. */
    bool resetRecords();
    /** Replaces the package's recorded files with `entries`, in one transaction. */
    bool saveManifest(int packageId, const QVector<ManifestEntry> &entries);
    QVector<ManifestEntry> manifest(int packageId);
    void removeManifest(int packageId);
    /** Every recorded file of the packages other than `packageId`: path -> its package's id. */
    QHash<QString, int> ownedFiles(int packageId);
    /** The connection of the thread that opened it. */
    QSqlDatabase &connection() { return m_database; }
    QString fileName() const { return m_database.databaseName(); }
    /** Where a damaged file was moved by the last open(), once; empty when it was fine. */
    QString takeBrokenFile();
    /** Why the last open() left a file that is not damaged closed and in place. */
    enum class OpenProblem { None, Busy, Unusable };
    OpenProblem openProblem() const { return m_openProblem; }
    /** SQLite's words for the problem. */
    QString openProblemDetail() const { return m_openProblemDetail; }

    /** Inserts or updates a package's row. */
    static bool writeStatus(QSqlDatabase &database, int packageId, const QString &version, int status);
    /** Replaces a package's recorded files with `entries` (none when null); the caller holds the transaction.
     */
    static bool writeManifest(QSqlDatabase &database, int packageId, const QVector<ManifestEntry> *entries);
    /** The third line of a version file; empty when there is none. */
    static QString readVersionFile(const QString &path);
    /** The path of a package's KOV_version.txt below the X-Plane root. */
    static QString versionFilePath(const QString &root, const QSharedPointer<Models::Package> &package);

private:
    bool prepareSchema();
    /** Runs one statement of the schema's preparation; a failure is kept for open() to judge. */
    bool schemaStep(QSqlQuery &query, const QString &statement);
    /** Moves a damaged file, with its write-ahead log and shared memory, beside the earlier ones. */
    QString setAside(const QString &file);
    /** `recorded` in the catalogue's spelling; the version file's when nothing is recorded. */
    QString spelledVersion(const QSharedPointer<Models::Package> &package, const QString &recorded);
    bool migrateVersionToText();

    QSharedPointer<KOV::Settings> m_settings;
    QSqlDatabase m_database;
    QString m_brokenFile;
    QSqlError m_schemaError;
    OpenProblem m_openProblem = OpenProblem::None;
    QString m_openProblemDetail;
};

} // namespace KOV::Controllers
