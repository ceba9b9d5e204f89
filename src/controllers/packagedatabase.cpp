#include "controllers/packagedatabase.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <QVersionNumber>

#include <utility>

#include "app/environment.h"
#include "app/logging.h"
#include "app/settings.h"
#include "controllers/folderpresence.h"
#include "controllers/installjournal.h"
#include "managers/sqllog.h"

namespace KOV::Controllers {

using Managers::execLogged;
using Models::Package;
using Models::PackageVersion;

namespace {
const QString connectionName = QStringLiteral("PackageDatabaseConnection");
}

PackageDatabase::PackageDatabase(QSharedPointer<KOV::Settings> settings)
    : m_settings(std::move(settings))
{
}

PackageDatabase::~PackageDatabase()
{
    m_database.close();
    m_database = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
}

void PackageDatabase::open()
{
    if (m_database.isOpen())
        return;
    m_database = QSqlDatabase::contains(connectionName)
                     ? QSqlDatabase::database(connectionName, false)
                     : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    const QString file = dataDir() + QStringLiteral("packages.db");
    m_database.setDatabaseName(file);
    // Another program's lock is waited for a few seconds before it counts as busy.
    m_database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=4000"));
    m_openProblem = OpenProblem::None;
    m_openProblemDetail.clear();
    m_schemaError = QSqlError();
    if (m_database.open() && prepareSchema())
        return;
    const QSqlError error = m_schemaError.isValid() ? m_schemaError : m_database.lastError();
    qCCritical(lcDatabase) << "Cannot use " << file << " : " << error.text();
    m_database.close();
    // SQLite's primary result code: only a file it calls damaged is set aside; a busy or refused one stays.
    const int code = error.nativeErrorCode().toInt() & 0xff;
    constexpr int sqliteBusy = 5, sqliteLocked = 6, sqliteCorrupt = 11, sqliteNotADatabase = 26;
    if (code != sqliteCorrupt && code != sqliteNotADatabase) {
        m_openProblem = code == sqliteBusy || code == sqliteLocked ? OpenProblem::Busy : OpenProblem::Unusable;
        m_openProblemDetail = error.databaseText().isEmpty() ? error.text() : error.databaseText();
        return;
    }
    const QString broken = setAside(file);
    if (broken.isEmpty()) {
        qCCritical(lcDatabase) << "Cannot move aside : " << file;
        m_openProblem = OpenProblem::Unusable;
        m_openProblemDetail = error.databaseText();
        return;
    }
    m_brokenFile = broken;
    if (!m_database.open() || !prepareSchema()) {
        qCCritical(lcDatabase) << "Cannot create : " << file << " : " << m_database.lastError().text();
        m_database.close();
    }
}

QString PackageDatabase::setAside(const QString &file)
{
    // Earlier damaged files are kept: each gets a number of its own.
    QString broken = file + QStringLiteral(".broken");
    for (int number = 2; QFileInfo::exists(broken) || QFileInfo::exists(broken + QStringLiteral("-wal"))
                         || QFileInfo::exists(broken + QStringLiteral("-shm"));
         ++number)
        broken = file + QStringLiteral(".broken.%1").arg(number);
    if (!QFile::rename(file, broken))
        return QString();
    // The write-ahead log and its index belong to the file they were written for.
    for (const QString &suffix : { QStringLiteral("-wal"), QStringLiteral("-shm") }) {
        if (QFileInfo::exists(file + suffix))
            QFile::rename(file + suffix, broken + suffix);
    }
    return broken;
}

bool PackageDatabase::schemaStep(QSqlQuery &query, const QString &statement)
{
    if (execLogged(query, statement))
        return true;
    m_schemaError = query.lastError();
    return false;
}

bool PackageDatabase::prepareSchema()
{
    QSqlQuery query(m_database);
    // Each state change is one durable commit: a power loss keeps the last one.
    if (!schemaStep(query, QStringLiteral("PRAGMA journal_mode=WAL"))
        || !schemaStep(query, QStringLiteral("PRAGMA synchronous=NORMAL")))
        return false;
    query.finish();
    if (!schemaStep(query,
                    QStringLiteral("CREATE TABLE IF NOT EXISTS packages (id         INTEGER     PRIMARY KEY "
                                   "AUTOINCREMENT,package_id INTEGER     UNIQUE,version TEXT,status     "
                                   "INTEGER (1) NOT NULL);")))
        return false;
    // Older files declared the version a STRING, which SQLite reads as a number: "2.0" came back as 2.
    if (!schemaStep(query, QStringLiteral("PRAGMA table_info(packages)")))
        return false;
    bool textVersion = true;
    while (query.next()) {
        if (query.value(1).toString() == QLatin1String("version"))
            textVersion = query.value(2).toString().compare(QLatin1String("TEXT"), Qt::CaseInsensitive) == 0;
    }
    query.finish();
    if (!textVersion && !migrateVersionToText())
        return false;
    if (!schemaStep(query, QStringLiteral("CREATE TABLE IF NOT EXISTS manifest (package_id INTEGER NOT NULL,"
                                          "path TEXT NOT NULL,size INTEGER NOT NULL,crc INTEGER NOT NULL,"
                                          "PRIMARY KEY (package_id, path))")))
        return false;
    if (!InstallJournal::createTable(m_database))
        return false;
    // A write, so that a file that can be read but not written is found now and not at the first install.
    return schemaStep(query, QStringLiteral("PRAGMA user_version = 1"));
}

bool PackageDatabase::migrateVersionToText()
{
    qInfo(lcDatabase) << "Storing package versions as text";
    if (!m_database.transaction())
        return false;
    QSqlQuery query(m_database);
    const bool migrated
        = execLogged(query, QStringLiteral("ALTER TABLE packages RENAME TO packages_old"))
          && execLogged(query,
                        QStringLiteral("CREATE TABLE packages (id INTEGER PRIMARY KEY AUTOINCREMENT,"
                                       "package_id INTEGER UNIQUE,version TEXT,status INTEGER (1) NOT NULL)"))
          && execLogged(query, QStringLiteral("INSERT INTO packages(id,package_id,version,status) SELECT "
                                              "id,package_id,CAST(version AS TEXT),status FROM packages_old"))
          && execLogged(query, QStringLiteral("DROP TABLE packages_old"));
    query.finish();
    if (migrated && m_database.commit())
        return true;
    m_database.rollback();
    return false;
}

bool PackageDatabase::saveManifest(int packageId, const QVector<ManifestEntry> &entries)
{
    if (!m_database.isOpen() || !m_database.transaction())
        return false;
    if (writeManifest(m_database, packageId, &entries) && m_database.commit())
        return true;
    m_database.rollback();
    qCWarning(lcDatabase) << "Could not record the installed files of package " << packageId;
    return false;
}

bool PackageDatabase::writeManifest(QSqlDatabase &database, int packageId,
                                    const QVector<ManifestEntry> *entries)
{
    QSqlQuery query(database);
    query.prepare(QStringLiteral("DELETE FROM manifest WHERE package_id = :id"));
    query.bindValue(QStringLiteral(":id"), packageId);
    bool saved = execLogged(query);
    if (!entries)
        return saved;
    // One statement prepared once for all rows: a package may bring thousands of files.
    query.prepare(
        QStringLiteral("INSERT OR REPLACE INTO manifest(package_id,path,size,crc) VALUES (?,?,?,?)"));
    for (int i = 0; saved && i < entries->size(); ++i) {
        query.bindValue(0, packageId);
        query.bindValue(1, entries->at(i).path);
        query.bindValue(2, entries->at(i).size);
        query.bindValue(3, qint64(entries->at(i).crc));
        saved = execLogged(query);
    }
    return saved;
}

QVector<ManifestEntry> PackageDatabase::manifest(int packageId)
{
    QVector<ManifestEntry> entries;
    if (!m_database.isOpen())
        return entries;
    QSqlQuery query(m_database);
    query.prepare(
        QStringLiteral("SELECT path, size, crc FROM manifest WHERE package_id = :id ORDER BY path"));
    query.bindValue(QStringLiteral(":id"), packageId);
    if (!execLogged(query))
        return entries;
    while (query.next())
        entries.append(
            { query.value(0).toString(), query.value(1).toLongLong(), quint32(query.value(2).toLongLong()) });
    return entries;
}

QHash<QString, int> PackageDatabase::ownedFiles(int packageId)
{
    QHash<QString, int> owners;
    if (!m_database.isOpen())
        return owners;
    QSqlQuery query(m_database);
    query.prepare(QStringLiteral("SELECT path, package_id FROM manifest WHERE package_id != :id"));
    query.bindValue(QStringLiteral(":id"), packageId);
    if (!execLogged(query))
        return owners;
    while (query.next())
        owners.insert(query.value(0).toString(), query.value(1).toInt());
    return owners;
}

void PackageDatabase::removeManifest(int packageId)
{
    if (m_database.isOpen())
        writeManifest(m_database, packageId, nullptr);
}

QString PackageDatabase::takeBrokenFile()
{
    return std::exchange(m_brokenFile, QString());
}

void PackageDatabase::saveState(const QSharedPointer<Package> &package, const QString &version, int status)
{
    if (m_database.isOpen())
        writeStatus(m_database, package->id(), version, status < 0 ? int(package->state()) : status);
}

bool PackageDatabase::writeStatus(QSqlDatabase &database, int packageId, const QString &version, int status)
{
    QSqlQuery write(database);
    write.prepare(
        QStringLiteral("INSERT INTO packages(package_id,status,version) VALUES (?,?,?) ON CONFLICT"
                       "(package_id) DO UPDATE SET status = excluded.status, version = excluded.version"));
    write.addBindValue(packageId);
    write.addBindValue(status);
    write.addBindValue(version);
    return execLogged(write);
}

int PackageDatabase::status(const QSharedPointer<Package> &package)
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

QString PackageDatabase::version(const QSharedPointer<Package> &package)
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

QString PackageDatabase::installedVersion(const QSharedPointer<Package> &package)
{
    return spelledVersion(package, version(package));
}

QString PackageDatabase::spelledVersion(const QSharedPointer<Package> &package, const QString &recorded)
{
    if (recorded.isEmpty())
        return versionFromFile(package);
    // Rows written before the column was text hold "2.0" as 2; give back the catalogue's own spelling of it.
    const QVersionNumber number = QVersionNumber::fromString(recorded).normalized();
    QString spelled = recorded;
    for (const QSharedPointer<PackageVersion> &offered : package->versions()) {
        if (offered->version == recorded)
            return recorded;
        if (spelled == recorded && !number.isNull()
            && QVersionNumber::fromString(offered->version).normalized() == number)
            spelled = offered->version;
    }
    return spelled;
}

QHash<int, PackageDatabase::Record> PackageDatabase::records()
{
    QHash<int, Record> rows;
    QSqlQuery query(m_database);
    if (!m_database.isOpen()
        || !execLogged(query, QStringLiteral("SELECT package_id, status, version FROM packages")))
        return rows;
    while (query.next())
        rows.insert(query.value(0).toInt(), { query.value(1).toInt(), query.value(2).toString() });
    return rows;
}

void PackageDatabase::mergeInstalledState(const QSharedPointer<Package> &package,
                                          const QHash<int, Record> &records, FolderPresence &folders)
{
    const auto row = records.constFind(package->id());
    QString installed;
    if (row == records.constEnd()) {
        // Installed by hand, or before this program kept records: the version file says so.
        if (!m_database.isOpen() || package->versions().isEmpty()
            || !folders.exists(m_settings->current().installation.value + QLatin1Char('/')
                               + package->versions().first()->install->extract))
            return;
        installed = versionFromFile(package);
        if (installed.isEmpty())
            return;
    } else if (row->status != Package::INSTALLED) {
        return;
    } else {
        installed = spelledVersion(package, row->version);
    }
    package->setState(Package::INSTALLED);
    const QVersionNumber number = QVersionNumber::fromString(installed);
    const QVersionNumber latest = QVersionNumber::fromString(package->versions().first()->version);
    if (number.isNull() || (!latest.isNull() && latest > number))
        package->setHasUpdate(true);
}

QString PackageDatabase::versionFilePath(const QString &root, const QSharedPointer<Package> &package)
{
    const QChar separator = QDir::separator();
    QString path = root + separator + package->versions().first()->install->extract + separator;
    // The library keeps its version file one level deeper.
    if (package->id() == 1)
        path += QStringLiteral("lib") + separator + QStringLiteral("KOV_Library") + separator;
    return path + QStringLiteral("KOV_version.txt");
}

QString PackageDatabase::versionFromFile(const QSharedPointer<Package> &package)
{
    if (package->versions().isEmpty())
        return QString();
    const QString version
        = readVersionFile(versionFilePath(m_settings->current().installation.value, package));
    if (!version.isEmpty()) {
        package->setState(Package::INSTALLED);
        saveState(package, version);
    }
    return version;
}

QString PackageDatabase::readVersionFile(const QString &path)
{
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream stream(&file);
    QString version;
    for (int line = 0; line < 3; ++line)
        version = stream.readLine();
    return version;
}

bool PackageDatabase::resetRecords()
{
    // Only the installed-package rows: the files' records, the journal and download.db stay.
    QSqlQuery query(m_database);
    return Managers::execLogged(query, QStringLiteral("DELETE FROM packages"));
}

void PackageDatabase::reset()
{
    const QString file = m_database.databaseName();
    if (!file.isEmpty() && QFileInfo::exists(file)) {
        m_database.close();
        QFile::remove(file);
        QFile::remove(file + QStringLiteral("-wal"));
        QFile::remove(file + QStringLiteral("-shm"));
    }
}

} // namespace KOV::Controllers
