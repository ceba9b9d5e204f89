#pragma once

#include <QSharedPointer>
#include <QStringList>

#include "models/package.h"

namespace KOV::Controllers {

/** What the file operations need, taken on the GUI thread: they never read the settings or the database. */
struct FileContext
{
    QString root;
    QString preserveFolder;
    QString backupFolder;
    QSharedPointer<Models::PackageVersion> installed; // as the database names it when the context is taken
    // Backup entries that other installed packages saved too: their copies stay until the last one goes.
    QStringList sharedBackups;
};

/** The file steps of an installation and an uninstallation on the X-Plane folder, in their order. */
class PackageInstaller final
{
public:
    /** Preserve, back up, remove the installed files, extract, restore: true when the archive was extracted.
     */
    static bool install(const QSharedPointer<Models::Package> &package, const QString &version,
                        const QString &archivePath, const FileContext &context);
    static bool extractArchive(const Models::PackageVersion &target, const QString &archivePath,
                               bool deleteArchive, const FileContext &context);
    /** Deletes the installed version's remove entries, then puts X-Plane's backed-up files back. */
    static bool removeInstalledFiles(const FileContext &context);
};

} // namespace KOV::Controllers
