#pragma once

#include <QHash>
#include <QSharedPointer>
#include <QString>

#include "models/package.h"

namespace KOV::Controllers {

class PackageDatabase;
struct PendingInstallation;

/**
 * The journal rows of the changes this run has on their way, kept on the interface thread: a row opens with
 * the first state a change records, goes on when the files are touched and closes with the state the change
 * ends in.
 */
class ChangeJournal final
{
    Q_DISABLE_COPY_MOVE(ChangeJournal)
public:
    explicit ChangeJournal(PackageDatabase &database);

    /** Records a state on the way to an installation (a download), opening the change's row. */
    void saveProgress(const QSharedPointer<Models::Package> &package, const QString &version,
                      const QString &keptVersion, const QString &root);
    /** Records that the files of `entry` are about to change; its row, or -1. */
    qint64 begin(const PendingInstallation &entry, const QString &keptVersion, const QString &root);
    /** Records the state the change ends in and deletes its row, in one transaction. */
    void end(const QSharedPointer<Models::Package> &package, const QString &version, int status);

private:
    PackageDatabase &m_database;
    QHash<int, qint64> m_rows;
};

} // namespace KOV::Controllers
