#pragma once

#include <QSqlDatabase>
#include <QStringList>

namespace KOV::Controllers {

struct JournalEntry;

/**
 * What the next start does about changes to the X-Plane folder that a crash or a power loss interrupted: a
 * change that had not reached its final step is undone, one that had is finished, the saved copies go back,
 * and the package's recorded state is what is on disk.
 */
class CrashRecovery final
{
public:
    /** Resolves every journal row of `database`; one line per row says what was done. */
    static QStringList resolve(QSqlDatabase &database);

private:
    static QString resolveEntry(QSqlDatabase &database, const JournalEntry &entry);
};

} // namespace KOV::Controllers
