#include "controllers/installjournal.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include "app/logging.h"
#include "managers/sqllog.h"

namespace KOV::Controllers {

using Managers::execLogged;

namespace {

std::function<void(const QString &)> &stepHook()
{
    static std::function<void(const QString &)> hook;
    return hook;
}

QString serialised(const QJsonObject &data)
{
    return QString::fromUtf8(QJsonDocument(data).toJson(QJsonDocument::Compact));
}

// IMMEDIATE takes the write lock at once, so that the busy wait covers the whole transaction.
bool beginWrite(QSqlDatabase &database)
{
    QSqlQuery query(database);
    return execLogged(query, QStringLiteral("BEGIN IMMEDIATE"));
}

bool endWrite(QSqlDatabase &database, bool written)
{
    QSqlQuery query(database);
    if (written && execLogged(query, QStringLiteral("COMMIT")))
        return true;
    execLogged(query, QStringLiteral("ROLLBACK"));
    return false;
}

} // namespace

bool InstallJournal::createTable(QSqlDatabase &database)
{
    QSqlQuery query(database);
    return execLogged(query, QStringLiteral("CREATE TABLE IF NOT EXISTS journal (id INTEGER PRIMARY KEY "
                                            "AUTOINCREMENT,package_id INTEGER NOT NULL,version TEXT,"
                                            "step TEXT NOT NULL,data TEXT NOT NULL)"));
}

qint64 InstallJournal::begin(QSqlDatabase &database, int packageId, const QString &version, int status,
                             const QJsonObject &data, const QString &step)
{
    if (!database.isOpen() || !beginWrite(database))
        return -1;
    QSqlQuery insert(database);
    insert.prepare(QStringLiteral("INSERT INTO journal(package_id,version,step,data) VALUES (?,?,?,?)"));
    insert.addBindValue(packageId);
    insert.addBindValue(version);
    insert.addBindValue(step);
    insert.addBindValue(serialised(data));
    const bool written
        = PackageDatabase::writeStatus(database, packageId, version, status) && execLogged(insert);
    const qint64 row = insert.lastInsertId().toLongLong();
    insert.finish();
    if (!endWrite(database, written))
        return -1;
    if (stepHook())
        stepHook()(step);
    return row;
}

bool InstallJournal::advance(QSqlDatabase &database, qint64 row, int packageId, const QString &version,
                             int status, const QString &step)
{
    if (!database.isOpen() || !beginWrite(database))
        return false;
    QSqlQuery update(database);
    update.prepare(QStringLiteral("UPDATE journal SET step = ?, version = ? WHERE id = ?"));
    update.addBindValue(step);
    update.addBindValue(version);
    update.addBindValue(row);
    const bool written = execLogged(update) && update.numRowsAffected() == 1
                         && PackageDatabase::writeStatus(database, packageId, version, status);
    update.finish();
    if (!endWrite(database, written))
        return false;
    if (stepHook())
        stepHook()(step);
    return true;
}

qint64 InstallJournal::beginChange(QSqlDatabase &database, const QSharedPointer<Models::Package> &package,
                                   const QString &version, bool uninstall, const QString &oldVersion,
                                   const QString &root, int status, const QString &step)
{
    const QJsonObject data {
        { QStringLiteral("kind"), uninstall ? QStringLiteral("uninstall") : QStringLiteral("install") },
        { QStringLiteral("oldVersion"), oldVersion },
        { QStringLiteral("root"), root },
        { QStringLiteral("versionFile"),
          package->versions().isEmpty() ? QString() : PackageDatabase::versionFilePath(root, package) },
    };
    return begin(database, package->id(), version, status, data, step);
}

bool InstallJournal::end(QSqlDatabase &database, qint64 row, int packageId, const QString &version,
                         int status)
{
    if (!database.isOpen() || !beginWrite(database))
        return false;
    QSqlQuery remove(database);
    remove.prepare(QStringLiteral("DELETE FROM journal WHERE id = ?"));
    remove.addBindValue(row);
    const bool written
        = PackageDatabase::writeStatus(database, packageId, version, status) && execLogged(remove);
    remove.finish();
    return endWrite(database, written);
}

QVector<JournalEntry> InstallJournal::entries(QSqlDatabase &database)
{
    QVector<JournalEntry> found;
    QSqlQuery query(database);
    if (!database.isOpen()
        || !execLogged(query,
                       QStringLiteral("SELECT id, package_id, version, step, data FROM journal ORDER BY id")))
        return found;
    while (query.next()) {
        found.append({ query.value(0).toLongLong(), query.value(1).toInt(), query.value(2).toString(),
                       query.value(3).toString(),
                       QJsonDocument::fromJson(query.value(4).toString().toUtf8()).object() });
    }
    return found;
}

QString InstallJournal::transactionLog(const QString &databaseFile, qint64 row)
{
    return QFileInfo(databaseFile).absolutePath() + QStringLiteral("/transaction-%1.log").arg(row);
}

void InstallJournal::setStepHook(std::function<void(const QString &)> hook)
{
    stepHook() = std::move(hook);
}

InstallJournal::InstallJournal(const QString &databaseFile, qint64 row)
    : m_databaseFile(databaseFile)
    , m_row(row)
    , m_connectionName(QStringLiteral("InstallJournal_") + QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    m_database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    m_database.setDatabaseName(databaseFile);
    QSqlQuery query(m_database);
    // The journal is what a restart trusts: each of its commits reaches the disk before the next step.
    if (!m_database.open() || !execLogged(query, QStringLiteral("PRAGMA synchronous=FULL"))) {
        qCCritical(lcDatabase) << "Cannot open the journal in " << databaseFile << " : "
                               << m_database.lastError().text();
        return;
    }
    // Each step adds to what the row holds already.
    query.prepare(QStringLiteral("SELECT data, package_id, version FROM journal WHERE id = ?"));
    query.addBindValue(row);
    if (!execLogged(query) || !query.next()) {
        qCCritical(lcDatabase) << "No journal row " << row << " in " << databaseFile;
        m_database.close();
        return;
    }
    m_data = QJsonDocument::fromJson(query.value(0).toString().toUtf8()).object();
    m_packageId = query.value(1).toInt();
    m_version = query.value(2).toString();
}

InstallJournal::~InstallJournal()
{
    m_database.close();
    m_database = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool InstallJournal::writeStep(const QString &step, const QJsonObject &data)
{
    for (auto it = data.constBegin(); it != data.constEnd(); ++it)
        m_data.insert(it.key(), it.value());
    QSqlQuery update(m_database);
    update.prepare(QStringLiteral("UPDATE journal SET step = ?, data = ? WHERE id = ?"));
    update.addBindValue(step);
    update.addBindValue(serialised(m_data));
    update.addBindValue(m_row);
    return execLogged(update) && update.numRowsAffected() == 1;
}

bool InstallJournal::record(const QString &step, const QJsonObject &data)
{
    if (!m_database.isOpen() || !writeStep(step, data))
        return false;
    if (stepHook())
        stepHook()(step);
    return true;
}

bool InstallJournal::recordFinal(const QString &step, const QJsonObject &data, int status,
                                 const QVector<ManifestEntry> *manifest)
{
    if (!m_database.isOpen() || !beginWrite(m_database))
        return false;
    const bool written = writeStep(step, data)
                         && PackageDatabase::writeStatus(m_database, m_packageId, m_version, status)
                         && (!manifest || PackageDatabase::writeManifest(m_database, m_packageId, manifest));
    if (!endWrite(m_database, written))
        return false;
    if (stepHook())
        stepHook()(step);
    return true;
}

} // namespace KOV::Controllers
