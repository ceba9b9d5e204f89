#include "controllers/preserveandbackup.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

#include "app/logging.h"
#include "controllers/filetransaction.h"
#include "controllers/installpaths.h"
#include "controllers/packageinstaller.h"

namespace KOV::Controllers {

namespace {

// Copies each existing entry below the root into `folder`, unless a copy is there already.
bool saveEntries(const QStringList &entries, const FileContext &context, const QString &folder,
                 QStringList *made)
{
    for (const QString &entry : entries) {
        const QString source = entryLocation(context.root, entry);
        if (source.isEmpty())
            continue;
        const QString copy = folder + QDir::separator() + entry;
        const QFileInfo info(source);
        if (!info.exists() || QFileInfo::exists(copy))
            continue;
        if (!copyPath(source, copy)) {
            qCWarning(lcInstall) << "Could not save : " << source << " to " << copy;
            return false;
        }
        if (made)
            made->append(copy);
    }
    return true;
}

qint64 unsavedSize(const QStringList &entries, const FileContext &context, const QString &folder)
{
    qint64 size = 0;
    for (const QString &entry : entries) {
        const QString source = entryLocation(context.root, entry);
        if (!source.isEmpty() && !QFileInfo::exists(folder + QDir::separator() + entry))
            size += pathSize(source);
    }
    return size;
}

} // namespace

bool PreserveAndBackup::preserveFiles(const Models::PackageVersion &target, const FileContext &context,
                                      QStringList *made)
{
    // A copy left by an earlier, unfinished run is the user's file: it wins.
    return saveEntries(target.install->preserve, context, context.preserveFolder, made);
}

bool PreserveAndBackup::backupFiles(const Models::PackageVersion &target, const FileContext &context,
                                    QStringList *made)
{
    // The first copy is X-Plane's own file: later installations keep it.
    return saveEntries(target.install->backup, context, context.backupFolder, made);
}

QStringList PreserveAndBackup::backupKeys(const QSharedPointer<Models::Package> &package,
                                          const QString &version)
{
    QStringList keys;
    if (package->versions().isEmpty())
        return keys;
    for (const QString &entry :
         package->versions().at(Models::versionIndex(package, version))->install->backup)
        keys << entryKey(entry);
    return keys;
}

QStringList PreserveAndBackup::copiesToMake(const Models::PackageVersion &target, const FileContext &context)
{
    QStringList copies;
    const auto add = [&](const QStringList &entries, const QString &folder) {
        for (const QString &entry : entries) {
            const QString copy = folder + QDir::separator() + entry;
            if (!entryLocation(context.root, entry).isEmpty() && !QFileInfo::exists(copy))
                copies << copy;
        }
    };
    add(target.install->preserve, context.preserveFolder);
    add(target.install->backup, context.backupFolder);
    return copies;
}

qint64 PreserveAndBackup::preserveSize(const Models::PackageVersion &target, const FileContext &context)
{
    return unsavedSize(target.install->preserve, context, context.preserveFolder);
}

qint64 PreserveAndBackup::backupSize(const Models::PackageVersion &target, const FileContext &context)
{
    return unsavedSize(target.install->backup, context, context.backupFolder);
}

bool PreserveAndBackup::restorePreservedFiles(const Models::PackageVersion &target,
                                              const FileContext &context, FileTransaction &transaction,
                                              QStringList *restored)
{
    for (const QString &entry : qAsConst(target.install->preserve)) {
        const QString destination = entryLocation(context.root, entry);
        if (destination.isEmpty())
            continue;
        const QString copy = context.preserveFolder + QDir::separator() + entry;
        if (!QFileInfo::exists(copy))
            continue;
        // The user's file replaces whatever the archive brought in its place.
        if (!transaction.copyInto(copy, destination))
            return false;
        restored->append(copy);
    }
    return true;
}

bool PreserveAndBackup::restoreBackupFiles(const FileContext &context, const QStringList &keep,
                                           FileTransaction &transaction, QStringList *restored)
{
    if (!context.installed)
        return true;
    for (const QString &entry : qAsConst(context.installed->install->backup)) {
        const QString destination = entryLocation(context.root, entry);
        if (destination.isEmpty())
            continue;
        const QString copy = context.backupFolder + QDir::separator() + entry;
        const QString key = entryKey(entry);
        if (!QFileInfo::exists(copy) || context.sharedBackups.contains(key) || keep.contains(key))
            continue;
        // X-Plane's own file goes back over the package's version of it.
        if (!transaction.copyInto(copy, destination))
            return false;
        restored->append(copy);
    }
    return true;
}

QSet<QString> PreserveAndBackup::sharedBackups(
    const QVector<QSharedPointer<Models::Package>> &packages, int excludeId,
    const std::function<QString(const QSharedPointer<Models::Package> &)> &installedVersion)
{
    using Models::Package;
    QSet<QString> shared;
    for (const QSharedPointer<Package> &other : packages) {
        if (other->id() == excludeId || other->versions().isEmpty())
            continue;
        // Most packages back nothing up: their records need not be read.
        const auto versions = other->versions();
        if (std::none_of(versions.cbegin(), versions.cend(),
                         [](const auto &version) { return !version->install->backup.isEmpty(); }))
            continue;
        QVector<QSharedPointer<Models::PackageVersion>> relied;
        if (other->state() == Package::INSTALLED) {
            relied << other->versions().at(Models::versionIndex(other, installedVersion(other)));
        } else if (other->state() == Package::PREPARING || other->state() == Package::DOWNLOADING
                   || other->state() == Package::INSTALLING) {
            // Which version it brings is not known here: all of them may rely on the copy.
            relied = other->versions();
        }
        for (const QSharedPointer<Models::PackageVersion> &version : qAsConst(relied)) {
            for (const QString &entry : qAsConst(version->install->backup))
                shared.insert(entryKey(entry));
        }
    }
    return shared;
}

} // namespace KOV::Controllers
