#include "controllers/packagedatabase.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <QVersionNumber>

#include "app/environment.h"
#include "app/logging.h"
#include "app/settings.h"
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
    m_database.setDatabaseName(dataDir() + QStringLiteral("packages.db"));
    if (!m_database.open()) {
        qCWarning(lcDatabase) << "SQL Error: " << m_database.lastError().text();
        return;
    }
    QSqlQuery query(m_database);
    query.prepare(
        QStringLiteral("CREATE TABLE IF NOT EXISTS packages (id         INTEGER     PRIMARY KEY "
                       "AUTOINCREMENT,package_id INTEGER     UNIQUE,version STRING,status     INTEGER (1) "
                       "NOT NULL);"));
    execLogged(query);
}

void PackageDatabase::saveState(const QSharedPointer<Package> &package, const QString &version, int status)
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
        write.prepare(QStringLiteral(
            "INSERT INTO packages(package_id,status,version) VALUES (:package_id,:status,:version)"));
    }
    write.bindValue(QStringLiteral(":package_id"), package->id());
    write.bindValue(QStringLiteral(":status"), status < 0 ? int(package->state()) : status);
    write.bindValue(QStringLiteral(":version"), version);
    execLogged(write);
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
    const QString recorded = version(package);
    if (recorded.isEmpty())
        return versionFromFile(package);
    // The version column stores "2.0" as the number 2; give back the catalogue's own spelling of it.
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

void PackageDatabase::mergeInstalledState(const QSharedPointer<Package> &package)
{
    if (status(package) != Package::INSTALLED)
        return;
    package->setState(Package::INSTALLED);
    const QVersionNumber installed = QVersionNumber::fromString(installedVersion(package));
    const QVersionNumber latest = QVersionNumber::fromString(package->versions().first()->version);
    if (installed.isNull() || (!latest.isNull() && latest > installed))
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

void PackageDatabase::reset()
{
    const QString file = m_database.databaseName();
    if (!file.isEmpty() && QFileInfo::exists(file)) {
        m_database.close();
        QFile::remove(file);
    }
}

} // namespace KOV::Controllers
