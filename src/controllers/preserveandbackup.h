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
    /** Copies the version's backup entries into the backup folder, once: the first copy is X-Plane's. */
    static bool backupFiles(const Models::PackageVersion &target, const FileContext &context,
                            QStringList *made);
    /** The backup entries of one version of a package, in their shared form. */
    static QStringList backupKeys(const QSharedPointer<Models::Package> &package, const QString &version);
    /** The copies that preserveFiles() and backupFiles() may make: those not there yet. */
    static QStringList copiesToMake(const Models::PackageVersion &target, const FileContext &context);
    /** The bytes that preserveFiles() and backupFiles() would copy. */
    static qint64 preserveSize(const Models::PackageVersion &target, const FileContext &context);
    static qint64 backupSize(const Models::PackageVersion &target, const FileContext &context);

    /** Puts the saved user files back over what the archive brought; `restored` lists the copies used. */
    static bool restorePreservedFiles(const Models::PackageVersion &target, const FileContext &context,
                                      FileTransaction &transaction, QStringList *restored);
    /**
     * Puts back the installed version's backups over the package's files, except those another package
     * relies on and those in `keep`; `restored` lists the copies used.
     */
    static bool restoreBackupFiles(const FileContext &context, const QStringList &keep,
                                   FileTransaction &transaction, QStringList *restored);
    /**
     * The backup entries of every package but `excludeId` that relies on its saved copies: installed ones
     * with their installed version, packages on their way with all their versions.
     */
    static QSet<QString>
    sharedBackups(const QVector<QSharedPointer<Models::Package>> &packages, int excludeId,
                  const std::function<QString(const QSharedPointer<Models::Package> &)> &installedVersion);
};

} // namespace KOV::Controllers
