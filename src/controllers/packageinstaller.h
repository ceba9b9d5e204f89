#pragma once

#include <QCoreApplication>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QSharedPointer>
#include <QStringList>

#include "controllers/packagedatabase.h"
#include "models/package.h"

namespace KOV::Controllers {

class InstallJournal;

/** What the file operations need, taken on the GUI thread: they never read the settings or the database. */
struct FileContext
{
    QString root;
    QString preserveFolder;
    QString backupFolder;
    QSharedPointer<Models::PackageVersion> installed; // as the database names it when the context is taken
    // Backup entries that other packages saved too, or may rely on soon: their copies stay.
    QSet<QString> sharedBackups;
    /** Files other installed packages put in place: path -> package id. */
    QHash<QString, int> ownedFiles;
    /** The files this package's installation put in place, as recorded (relative to the root). */
    QStringList ownFiles;
    /** The user agreed to overwrite files of other packages. */
    bool overwriteOwned = false;
};

/** How an installation or uninstallation on the X-Plane folder ended. */
struct InstallOutcome
{
    bool done = false;
    /** Why it failed, for the user and log.txt. */
    QString reason;
    /** Entries an uninstallation could not remove. */
    QStringList leftovers;
    /** Every file an installation put in place. */
    QVector<ManifestEntry> manifest;
    /** Files of the archive that other packages own, by owner: nothing was changed. */
    QMap<int, QStringList> conflicts;
    /** The journal recorded the new state and the manifest with the final step. */
    bool recorded = false;
};

/**
 * The file steps of an installation and an uninstallation on the X-Plane folder. Each one either
 * completes or leaves the folder as it found it.
 */
class PackageInstaller final
{
    Q_DECLARE_TR_FUNCTIONS(KOV::Controllers::PackageInstaller)
public:
    /**
     * Lists and checks the archive, checks the free space, saves preserved and backed-up files, unpacks into
     * a staging folder and only then swaps the old version's files for the new ones. With a journal, each
     * step is recorded before it is taken.
     */
    static InstallOutcome install(const QSharedPointer<Models::Package> &package, const QString &version,
                                  const QString &archivePath, const FileContext &context,
                                  InstallJournal *journal = nullptr);
    /** Removes the installed version's remove entries and puts X-Plane's backed-up files back, or nothing. */
    static InstallOutcome removeInstalledFiles(const FileContext &context, InstallJournal *journal = nullptr);
};

} // namespace KOV::Controllers
