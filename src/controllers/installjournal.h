#pragma once

#include <QJsonObject>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

#include <functional>

#include "controllers/packagedatabase.h"

namespace KOV::Controllers {

/** A change to the X-Plane folder that began and has not ended, as packages.db recorded it. */
struct JournalEntry
{
    qint64 row = -1;
    int packageId = 0;
    QString version;
    QString step;
    QJsonObject data;
};

/**
 * The journal table of packages.db: a row per change to the X-Plane folder, written before each of its steps
 * and deleted with the state change that ends it, so that the next start knows what a crash interrupted.
 *
 * The static functions work on a connection of the caller's thread; an object opens a connection of its
 * own, for the thread that changes the files.
 */
class InstallJournal final
{
    Q_DISABLE_COPY_MOVE(InstallJournal)
public:
    static bool createTable(QSqlDatabase &database);
    /** Records the package's state and a new row in one transaction; the row, or -1. */
    static qint64 begin(QSqlDatabase &database, int packageId, const QString &version, int status,
                        const QJsonObject &data, const QString &step = QStringLiteral("starting"));
    /** Records the package's state and the row's next step in one transaction. */
    static bool advance(QSqlDatabase &database, qint64 row, int packageId, const QString &version, int status,
                        const QString &step);
    /**
     * begin() for a change of `package` to `version` (or its uninstallation), with what a restart needs to
     * tell what is on disk should the change be cut short.
     */
    static qint64 beginChange(QSqlDatabase &database, const QSharedPointer<Models::Package> &package,
                              const QString &version, bool uninstall, const QString &oldVersion,
                              const QString &root, int status, const QString &step);
    /** Records the package's state and deletes the row in one transaction. */
    static bool end(QSqlDatabase &database, qint64 row, int packageId, const QString &version, int status);
    static QVector<JournalEntry> entries(QSqlDatabase &database);
    /** Where the file transaction of a row writes its steps: beside packages.db. */
    static QString transactionLog(const QString &databaseFile, qint64 row);

    InstallJournal(const QString &databaseFile, qint64 row);
    ~InstallJournal();

    qint64 row() const { return m_row; }
    QString transactionLog() const { return transactionLog(m_databaseFile, m_row); }
    /** Records that `step` begins, adding `data` to what the row holds. */
    bool record(const QString &step, const QJsonObject &data = QJsonObject());
    /**
     * The point after which the change is final: the step, the package's new state (with the row's version)
     * and, when given, its installed files, in one durable transaction.
     */
    bool recordFinal(const QString &step, const QJsonObject &data, int status,
                     const QVector<ManifestEntry> *manifest);

    /** For the crash tests: called after each recorded step. */
    static void setStepHook(std::function<void(const QString &step)> hook);

private:
    bool writeStep(const QString &step, const QJsonObject &data);

    QString m_databaseFile;
    qint64 m_row;
    int m_packageId = 0;
    QString m_version;
    QString m_connectionName;
    QSqlDatabase m_database;
    QJsonObject m_data;
};

} // namespace KOV::Controllers
