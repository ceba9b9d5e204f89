#include "controllers/changejournal.h"

#include "app/logging.h"
#include "controllers/installjournal.h"
#include "controllers/installqueue.h"
#include "controllers/packagedatabase.h"

namespace KOV::Controllers {

using Models::Package;

ChangeJournal::ChangeJournal(PackageDatabase &database)
    : m_database(database)
{
}

void ChangeJournal::saveProgress(const QSharedPointer<Package> &package, const QString &version,
                                 const QString &keptVersion, const QString &root)
{
    // The first state a change records opens its row: a restart then knows which version stays.
    if (m_rows.value(package->id(), -1) < 0) {
        const qint64 row
            = InstallJournal::beginChange(m_database.connection(), package, version, false, keptVersion, root,
                                          package->state(), QStringLiteral("downloading"));
        m_rows.insert(package->id(), row);
        if (row > 0)
            return;
    }
    m_database.saveState(package, version);
}

qint64 ChangeJournal::begin(const PendingInstallation &entry, const QString &keptVersion, const QString &root)
{
    const int id = entry.package->id();
    const int status = entry.uninstall ? Package::UNINSTALLING : Package::INSTALLING;
    const QString step = QStringLiteral("starting");
    // The row that the download opened goes on; an uninstallation, or an answer to a question, opens one.
    qint64 row = m_rows.value(id, -1);
    if (row < 0 || !InstallJournal::advance(m_database.connection(), row, id, entry.version, status, step))
        row = InstallJournal::beginChange(m_database.connection(), entry.package, entry.version,
                                          entry.uninstall, entry.uninstall ? entry.version : keptVersion,
                                          root, status, step);
    if (row < 0)
        qCWarning(lcDatabase) << "No journal for the change of package " << id;
    m_rows.insert(id, row);
    return row;
}

void ChangeJournal::end(const QSharedPointer<Package> &package, const QString &version, int status)
{
    const qint64 row = m_rows.take(package->id());
    if (row > 0 && InstallJournal::end(m_database.connection(), row, package->id(), version, status))
        return;
    m_database.saveState(package, version, status);
}

} // namespace KOV::Controllers
