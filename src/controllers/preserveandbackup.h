#pragma once

#include "models/package.h"

namespace KOV::Controllers {

struct FileContext;

/** Saves the user's files and X-Plane's own files before an installation and puts them back after. */
class PreserveAndBackup final
{
public:
    /** Copies the version's preserve entries into the preserve folder; a copy left by an earlier run wins. */
    static bool preserveFiles(const Models::PackageVersion &target, const FileContext &context);
    /** Copies the version's backup entries into the backup folder, once: the first copy is X-Plane's. */
    static bool backupFiles(const Models::PackageVersion &target, const FileContext &context);
    static bool restorePreservedFiles(const Models::PackageVersion &target, const FileContext &context);
    /** Puts back the installed version's backups, except those another installed package still relies on. */
    static bool restoreBackupFiles(const FileContext &context);
};

} // namespace KOV::Controllers
