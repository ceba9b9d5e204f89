#include "managers/downloaddatabase.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include "app/logging.h"
#include "managers/sqllog.h"
#include "models/download.h"

namespace KOV::Managers {

using Models::Download;

namespace {
const QString connectionName = QStringLiteral("DownloadDatabaseConnection");
}

DownloadDatabase::~DownloadDatabase()
{
    m_database.close();
    m_database = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
}

void DownloadDatabase::open(const QString &file)
{
    m_database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    m_database.setDatabaseName(file);
    if (!m_database.open()) {
        qCWarning(lcDatabase) << "SQL Error: " << m_database.lastError().text();
        return;
    }
    QSqlQuery query(m_database);
    query.prepare(
        QStringLiteral("CREATE TABLE IF NOT EXISTS downloads (id        INTEGER        PRIMARY KEY "
                       "AUTOINCREMENT,url       VARCHAR (1024) UNIQUE,timestamp DATETIME       DEFAULT "
                       "CURRENT_TIMESTAMP);"));
    if (!execLogged(query))
        return;
    // Files of older runs have no validator column: added, their rows resume as before.
    QSqlQuery columns(QStringLiteral("PRAGMA table_info(downloads)"), m_database);
    bool hasValidator = false;
    while (columns.next())
        hasValidator = hasValidator || columns.value(1).toString() == QLatin1String("validator");
    columns.finish();
    if (!hasValidator)
        execLogged(query, QStringLiteral("ALTER TABLE downloads ADD COLUMN validator TEXT"));
    QSqlQuery owners(QStringLiteral("SELECT url, validator FROM downloads"), m_database);
    while (owners.next()) {
        const QString url = owners.value(0).toString();
        const QUrl link(url, QUrl::TolerantMode);
        m_owners.insert(Download::fileNameForUrl(link), url);
        const QString legacy = Download::legacyFileNameForUrl(link);
        m_legacyOwners.insert(legacy, m_legacyOwners.contains(legacy) ? QString() : url);
        m_validators.insert(url, owners.value(1).toByteArray());
    }
}

void DownloadDatabase::remove()
{
    const QString file = m_database.databaseName();
    if (file.isEmpty() || !QFileInfo::exists(file))
        return;
    m_database.close();
    m_owners.clear();
    m_legacyOwners.clear();
    m_validators.clear();
    QFile::remove(file);
}

bool DownloadDatabase::ownsFile(const QUrl &url) const
{
    return m_database.isOpen() && m_owners.value(Download::fileNameForUrl(url)) == url.toString();
}

bool DownloadDatabase::ownsLegacyFile(const QUrl &url) const
{
    return m_database.isOpen() && m_legacyOwners.value(Download::legacyFileNameForUrl(url)) == url.toString();
}

void DownloadDatabase::claimFile(const QUrl &url, bool keepRecord)
{
    if (!m_database.isOpen())
        return;
    const QString name = Download::fileNameForUrl(url);
    const QString writer = url.toString();
    const auto owner = m_owners.constFind(name);
    if (owner != m_owners.constEnd() && *owner == writer)
        return;
    // Whoever wrote this cache file before under another URL no longer owns it.
    if (owner != m_owners.constEnd()) {
        QSqlQuery remove(m_database);
        remove.prepare(QStringLiteral("DELETE FROM downloads WHERE url = :url"));
        remove.bindValue(QStringLiteral(":url"), *owner);
        execLogged(remove);
        m_validators.remove(*owner);
        m_owners.remove(name);
    }
    // Only files worth continuing are recorded: a catalogue or an image is fetched afresh anyway.
    if (!keepRecord)
        return;
    QSqlQuery insert(m_database);
    insert.prepare(QStringLiteral("INSERT OR REPLACE INTO downloads(url) VALUES (:url)"));
    insert.bindValue(QStringLiteral(":url"), writer);
    if (execLogged(insert))
        m_owners.insert(name, writer);
    m_validators.remove(writer);
}

QByteArray DownloadDatabase::validator(const QString &url) const
{
    return m_validators.value(url);
}

void DownloadDatabase::recordValidator(const QString &url, const QByteArray &validator)
{
    if (!m_database.isOpen() || m_validators.value(url) == validator)
        return;
    QSqlQuery update(m_database);
    update.prepare(QStringLiteral("UPDATE downloads SET validator = :validator WHERE url = :url"));
    update.bindValue(QStringLiteral(":validator"), QString::fromLatin1(validator));
    update.bindValue(QStringLiteral(":url"), url);
    if (execLogged(update))
        m_validators.insert(url, validator);
}

} // namespace KOV::Managers
