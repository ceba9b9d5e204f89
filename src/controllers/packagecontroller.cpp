#include "controllers/packagecontroller.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>

#include "app/environment.h"
#include "app/settings.h"
#include "managers/downloadmanager.h"

namespace KOV::Controllers {

using Models::Package;

namespace {

const QString connectionName = QStringLiteral("PackageDatabaseConnection");

bool execLogged(QSqlQuery &query)
{
    if (query.exec())
        return true;
    qDebug() << "SQL Error: " << query.lastError().text();
    return false;
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
}

PackageController::~PackageController()
{
    m_database.close();
    m_database = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
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
    return recorded.isEmpty() ? versionFromFile(package) : recorded;
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
