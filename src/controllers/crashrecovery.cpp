#include "controllers/crashrecovery.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QSqlQuery>

#include "app/logging.h"
#include "controllers/filetransaction.h"
#include "controllers/installjournal.h"
#include "controllers/installpaths.h"
#include "managers/sqllog.h"
#include "models/package.h"

namespace KOV::Controllers {

using Models::Package;

namespace {

bool removeListed(const QJsonValue &paths)
{
    bool removed = true;
    for (const QJsonValue &path : paths.toArray())
        removed = removePath(path.toString()) && removed;
    return removed;
}

// A manifest none of whose files are there says the package is not.
bool manifestGone(QSqlDatabase &database, int packageId, const QString &root)
{
    QSqlQuery query(database);
    query.prepare(QStringLiteral("SELECT path FROM manifest WHERE package_id = ?"));
    query.addBindValue(packageId);
    if (!Managers::execLogged(query))
        return false;
    bool any = false;
    while (query.next()) {
        any = true;
        if (QFileInfo::exists(root + QLatin1Char('/') + query.value(0).toString()))
            return false;
    }
    return any;
}

} // namespace

QStringList CrashRecovery::resolve(QSqlDatabase &database)
{
    QStringList done;
    for (const JournalEntry &entry : InstallJournal::entries(database)) {
        const QString line = resolveEntry(database, entry);
        qCWarning(lcInstall).noquote() << line;
        done << line;
    }
    return done;
}

QString CrashRecovery::resolveEntry(QSqlDatabase &database, const JournalEntry &entry)
{
    const bool uninstall = entry.data.value(QLatin1String("kind")).toString() == QLatin1String("uninstall");
    const QString what
        = QStringLiteral("Interrupted %1 of package %2 (version %3) at \"%4\": ")
              .arg(uninstall ? QStringLiteral("uninstallation") : QStringLiteral("installation"))
              .arg(entry.packageId)
              .arg(entry.version, entry.step);
    const QString log = InstallJournal::transactionLog(database.databaseName(), entry.row);
    // The final step was recorded: the change stands, only its clean-up is left.
    const bool final = entry.step == QLatin1String("cleaning");
    bool filesDone;
    if (final) {
        filesDone = FileTransaction::finishLog(log);
        // The copies that went back served their purpose.
        removeListed(entry.data.value(QLatin1String("restored")));
    } else {
        // Undone first: the copies this run saved go only once the originals are back.
        filesDone = FileTransaction::undoLog(log);
        if (filesDone)
            removeListed(entry.data.value(QLatin1String("copies")));
    }
    const QString staging = entry.data.value(QLatin1String("staging")).toString();
    if (filesDone && !staging.isEmpty())
        filesDone = removePath(staging);

    QString version = final ? (uninstall ? QString() : entry.version)
                            : entry.data.value(QLatin1String("oldVersion")).toString();
    int status = version.isEmpty() ? Package::AVAILABLE : Package::INSTALLED;
    // What is on disk decides: the version file first, else whether the recorded files are there.
    const QString fileVersion
        = PackageDatabase::readVersionFile(entry.data.value(QLatin1String("versionFile")).toString());
    if (!fileVersion.isEmpty()) {
        version = fileVersion;
        status = Package::INSTALLED;
    } else if (status == Package::INSTALLED
               && manifestGone(database, entry.packageId,
                               entry.data.value(QLatin1String("root")).toString())) {
        status = Package::AVAILABLE;
    }
    if (!filesDone) {
        // Nothing more is deleted; the next start tries again.
        PackageDatabase::writeStatus(database, entry.packageId, entry.version, Package::INSTALL_ERROR);
        return what + QStringLiteral("could not be resolved; the files moved aside stay, listed in ") + log;
    }
    if (!database.transaction())
        return what + QStringLiteral("could not be recorded");
    QSqlQuery remove(database);
    remove.prepare(QStringLiteral("DELETE FROM journal WHERE id = ?"));
    remove.addBindValue(entry.row);
    const bool recorded = PackageDatabase::writeStatus(database, entry.packageId, version, status)
                          && (status == Package::INSTALLED
                              || PackageDatabase::writeManifest(database, entry.packageId, nullptr))
                          && Managers::execLogged(remove);
    remove.finish();
    if (!recorded || !database.commit()) {
        database.rollback();
        return what + QStringLiteral("could not be recorded");
    }
    QFile::remove(log);
    const QString change = final ? QStringLiteral("finished") : QStringLiteral("undone");
    return what + change
           + (status == Package::INSTALLED ? QStringLiteral(", version %1 is installed").arg(version)
                                           : QStringLiteral(", the package is not installed"));
}

} // namespace KOV::Controllers
