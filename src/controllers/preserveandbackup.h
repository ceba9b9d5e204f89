#pragma once

#include <QSet>
#include <QStringList>

#include <functional>

#include "models/package.h"

namespace KOV::Controllers {

struct FileContext;
class FileTransaction;

/** Saves the user's files and X-Plane's own files before an installation and puts them back after. */
class PreserveAndBackup final
{
public:
    /**
     * Copies the version's preserve entries, files or folders, into the preserve folder; a copy left by an
     * earlier run wins. False when a copy fails; `made` lists the copies made by this call.
     */
    static bool preserveFiles(const Models::PackageVersion &target, const FileContext &context,
                              QStringList *made);
    /**
     * The files of the X-Plane folder that the version's backup entries name and its archive will overwrite
     * (`listed`: the archive's files, relative to the root), not saved yet and not the package's own.
     */
    static QStringList filesToBackUp(const Models::PackageVersion &target, const FileContext &context,
                                     const QStringList &listed);
    /** Copies `files` (from filesToBackUp()) into the backup folder: the first copy is X-Plane's. */
    static bool backupFiles(const QStringList &files, const FileContext &context, QStringList *made);
    /** The backup entries of one version of a package, in their shared form. */
    static QStringList backupKeys(const QSharedPointer<Models::Package> &package, const QString &version);
    /** The copies that preserveFiles() and backupFiles() may make: those not there yet. */
    static QStringList copiesToMake(const Models::PackageVersion &target, const FileContext &context,
                                    const QStringList &backups);
    /** The bytes that preserveFiles() would copy. */
    static qint64 preserveSize(const Models::PackageVersion &target, const FileContext &context);
    /** The bytes of `files` in the X-Plane folder. */
    static qint64 backupSize(const QStringList &files, const FileContext &context);

    /**
     * Merges the saved user files back over what the archive brought, file by file: the user's files win,
     * files only the new version has stay. `restored` lists the copies used.
     */
    static bool restorePreservedFiles(const Models::PackageVersion &target, const FileContext &context,
                                      FileTransaction &transaction, QStringList *restored);
    /**
     * Puts back, file by file, what the installed version's backups saved, except files another package
     * relies on and those `keep` says stay (a path, or a folder holding it); everything else in the
     * folder is left as it is. `restored` lists the copies used.
     */
    static bool restoreBackupFiles(const FileContext &context, const QSet<QString> &keep,
                                   FileTransaction &transaction, QStringList *restored);
    /** Puts back the saved copies under the version's backup entries whose file is missing now. */
    static bool restoreMissingBackups(const Models::PackageVersion &target, const FileContext &context,
                                      FileTransaction &transaction);
    /**
     * The backup entries of every package but `excludeId` that relies on its saved copies: installed ones
     * with their installed version, packages on their way with all their versions.
     */
    static QSet<QString>
    sharedBackups(const QVector<QSharedPointer<Models::Package>> &packages, int excludeId,
                  const std::function<QString(const QSharedPointer<Models::Package> &)> &installedVersion);
};

} // namespace KOV::Controllers
