#include "controllers/preserveandbackup.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/environment.h"
#include "controllers/installpaths.h"
#include "controllers/packageinstaller.h"

namespace KOV::Controllers {

namespace {

// Copies each existing file entry below the root into `folder`, unless a copy is there already.
void saveEntries(const QStringList &entries, const FileContext &context, const QString &folder)
{
    for (const QString &entry : entries) {
        const QString source = entryLocation(context.root, entry);
        if (source.isEmpty())
            continue;
        const QString copy = folder + QDir::separator() + entry;
        const QFileInfo info(source);
        if (!info.exists() || QFileInfo::exists(copy))
            continue;
        ensureDir(parentFolder(copy), true);
        if (info.isFile())
            QFile::copy(source, copy);
    }
}

} // namespace

bool PreserveAndBackup::preserveFiles(const Models::PackageVersion &target, const FileContext &context)
{
    // A copy left by an earlier, unfinished run is the user's file: it wins.
    saveEntries(target.install->preserve, context, context.preserveFolder);
    return true;
}

bool PreserveAndBackup::backupFiles(const Models::PackageVersion &target, const FileContext &context)
{
    // The first copy is X-Plane's own file: later installations keep it.
    saveEntries(target.install->backup, context, context.backupFolder);
    return true;
}

bool PreserveAndBackup::restorePreservedFiles(const Models::PackageVersion &target,
                                              const FileContext &context)
{
    for (const QString &entry : qAsConst(target.install->preserve)) {
        const QString destination = entryLocation(context.root, entry);
        if (destination.isEmpty())
            continue;
        const QString copy = context.preserveFolder + QDir::separator() + entry;
        const QFileInfo saved(copy);
        if (!saved.exists())
            continue;
        // The user's file replaces whatever the archive brought in its place.
        if (saved.isFile())
            putBack(copy, destination);
        else
            QDir().mkdir(parentFolder(destination));
    }
    return true;
}

bool PreserveAndBackup::restoreBackupFiles(const FileContext &context)
{
    if (!context.installed)
        return true;
    for (const QString &entry : qAsConst(context.installed->install->backup)) {
        const QString destination = entryLocation(context.root, entry);
        if (destination.isEmpty())
            continue;
        const QString copy = context.backupFolder + QDir::separator() + entry;
        const QFileInfo saved(copy);
        if (!saved.exists() || context.sharedBackups.contains(entryKey(entry)))
            continue;
        // X-Plane's own file goes back over the package's version of it.
        if (saved.isFile())
            putBack(copy, destination);
        else
            ensureDir(parentFolder(destination), true);
    }
    return true;
}

} // namespace KOV::Controllers
