#include "controllers/preserveandbackup.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

#include "app/logging.h"
#include "controllers/filetransaction.h"
#include "controllers/installpaths.h"
#include "controllers/packageinstaller.h"
#include "controllers/packagepaths.h"

namespace KOV::Controllers {

namespace {

// The files (and links) saved under `entry` in `folder`, relative to `folder`.
QStringList savedFiles(const QString &folder, const QString &entry)
{
    const QString base = QDir::cleanPath(folder);
    const QString key = entryKey(entry);
    const QFileInfo info(base + QLatin1Char('/') + key);
    if (info.isSymLink() || info.isFile())
        return { key };
    if (!info.isDir())
        return {};
    QStringList files;
    QDirIterator it(info.filePath(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    const QDir root(base);
    while (it.hasNext())
        files << root.relativeFilePath(it.next());
    return files;
}

// Whether `key` or a folder that holds it is in `paths`.
bool coveredBy(const QString &key, const QSet<QString> &paths)
{
    QString path = key;
    while (!path.isEmpty()) {
        if (paths.contains(path))
            return true;
        const int slash = path.lastIndexOf(QLatin1Char('/'));
        path = slash < 0 ? QString() : path.left(slash);
    }
    return false;
}

} // namespace

bool PreserveAndBackup::preserveFiles(const Models::PackageVersion &target, const FileContext &context,
                                      QStringList *made)
{
    // A copy left by an earlier, unfinished run is the user's file: it wins.
    for (const QString &entry : target.install->preserve) {
        const QString source = entryLocation(context.root, entry);
        if (source.isEmpty())
            continue;
        const QString copy = context.preserveFolder + QDir::separator() + entry;
        const QFileInfo info(source);
        if ((!info.exists() && !info.isSymLink()) || QFileInfo::exists(copy))
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

QStringList PreserveAndBackup::filesToBackUp(const Models::PackageVersion &target, const FileContext &context,
                                             const QStringList &listed)
{
    QStringList files;
    const QSet<QString> own(context.ownFiles.cbegin(), context.ownFiles.cend());
    for (const QString &entry : target.install->backup) {
        const QString key = entryKey(entry);
        for (const QString &file : listed) {
            if (!PackagePaths::isWithin(file, key) || own.contains(file) || files.contains(file))
                continue;
            // Only what is there now is X-Plane's, and only its first copy.
            const QFileInfo info(context.root + QLatin1Char('/') + file);
            if ((info.isFile() || info.isSymLink())
                && !QFileInfo::exists(context.backupFolder + QDir::separator() + file))
                files << file;
        }
    }
    return files;
}

bool PreserveAndBackup::backupFiles(const QStringList &files, const FileContext &context, QStringList *made)
{
    for (const QString &file : files) {
        const QString source = context.root + QLatin1Char('/') + file;
        const QString copy = context.backupFolder + QDir::separator() + file;
        if (!copyPath(source, copy)) {
            qCWarning(lcInstall) << "Could not save : " << source << " to " << copy;
            return false;
        }
        if (made)
            made->append(copy);
    }
    return true;
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

QStringList PreserveAndBackup::copiesToMake(const Models::PackageVersion &target, const FileContext &context,
                                            const QStringList &backups)
{
    QStringList copies;
    for (const QString &entry : target.install->preserve) {
        const QString copy = context.preserveFolder + QDir::separator() + entry;
        if (!entryLocation(context.root, entry).isEmpty() && !QFileInfo::exists(copy))
            copies << copy;
    }
    for (const QString &file : backups)
        copies << context.backupFolder + QDir::separator() + file;
    return copies;
}

qint64 PreserveAndBackup::preserveSize(const Models::PackageVersion &target, const FileContext &context)
{
    qint64 size = 0;
    for (const QString &entry : target.install->preserve) {
        const QString source = entryLocation(context.root, entry);
        if (!source.isEmpty() && !QFileInfo::exists(context.preserveFolder + QDir::separator() + entry))
            size += pathSize(source);
    }
    return size;
}

qint64 PreserveAndBackup::backupSize(const QStringList &files, const FileContext &context)
{
    qint64 size = 0;
    for (const QString &file : files)
        size += pathSize(context.root + QLatin1Char('/') + file);
    return size;
}

bool PreserveAndBackup::restorePreservedFiles(const Models::PackageVersion &target,
                                              const FileContext &context, FileTransaction &transaction,
                                              QStringList *restored)
{
    for (const QString &entry : qAsConst(target.install->preserve)) {
        if (entryLocation(context.root, entry).isEmpty())
            continue;
        const QStringList files = savedFiles(context.preserveFolder, entry);
        // The user's files replace what the archive brought in their place; the rest of the new version
        // stays.
        for (const QString &file : files) {
            if (!transaction.copyInto(context.preserveFolder + QDir::separator() + file,
                                      context.root + QLatin1Char('/') + file))
                return false;
        }
        if (!files.isEmpty())
            restored->append(context.preserveFolder + QDir::separator() + entry);
    }
    return true;
}

bool PreserveAndBackup::restoreBackupFiles(const FileContext &context, const QSet<QString> &keep,
                                           FileTransaction &transaction, QStringList *restored)
{
    if (!context.installed)
        return true;
    const QSet<QString> own(context.ownFiles.cbegin(), context.ownFiles.cend());
    for (const QString &entry : qAsConst(context.installed->install->backup)) {
        if (entryLocation(context.root, entry).isEmpty())
            continue;
        for (const QString &file : savedFiles(context.backupFolder, entry)) {
            if (coveredBy(file, context.sharedBackups) || coveredBy(file, keep))
                continue;
            // Of an older copy of a whole folder, only what this package replaced goes back.
            if (!own.isEmpty() && !own.contains(file))
                continue;
            // X-Plane's own file goes back over the package's version of it.
            const QString copy = context.backupFolder + QDir::separator() + file;
            if (!transaction.copyInto(copy, context.root + QLatin1Char('/') + file))
                return false;
            restored->append(copy);
        }
    }
    return true;
}

bool PreserveAndBackup::restoreMissingBackups(const Models::PackageVersion &target, const FileContext &context,
                                              FileTransaction &transaction)
{
    for (const QString &entry : qAsConst(target.install->backup)) {
        if (entryLocation(context.root, entry).isEmpty())
            continue;
        for (const QString &file : savedFiles(context.backupFolder, entry)) {
            const QString path = context.root + QLatin1Char('/') + file;
            const QFileInfo info(path);
            if (!info.exists() && !info.isSymLink()
                && !transaction.copyInto(context.backupFolder + QDir::separator() + file, path))
                return false;
        }
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
