#include "controllers/packageinstaller.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/environment.h"
#include "controllers/installpaths.h"
#include "controllers/preserveandbackup.h"
#include "extractors/p7zipextractor.h"

namespace KOV::Controllers {

using Models::Package;

bool PackageInstaller::install(const QSharedPointer<Package> &package, const QString &version,
                               const QString &archivePath, const FileContext &context)
{
    if (archivePath.isEmpty() || package->versions().isEmpty())
        return false;
    const Models::PackageVersion &target = *package->versions().at(Models::versionIndex(package, version));
    // Refused before anything is touched.
    if (!staysInside(target.install->extract)) {
        qDebug() << "Extract folder outside the X-Plane folder : " << target.install->extract;
        return false;
    }
    PreserveAndBackup::preserveFiles(target, context);
    // Saved before the remove list can delete it: on a first install that list may name X-Plane's own file.
    PreserveAndBackup::backupFiles(target, context);
    removeInstalledFiles(context);
    PreserveAndBackup::backupFiles(target, context);
    if (!extractArchive(target, archivePath, true, context))
        return false;
    PreserveAndBackup::restorePreservedFiles(target, context);
    // An older version installed on purpose still has the newest one to update to.
    package->setHasUpdate(Models::versionIndex(package, version) != 0);
    package->setState(Package::INSTALLED);
    return true;
}

bool PackageInstaller::extractArchive(const Models::PackageVersion &target, const QString &archivePath,
                                      bool deleteArchive, const FileContext &context)
{
    const QString extract = target.install->extract;
    if (!staysInside(extract))
        return false;
    const QString folder = context.root + QDir::separator() + extract + QDir::separator();
    ensureDir(folder, true);
    Extractors::P7ZipExtractor extractor;
    const bool extracted = extractor.extract(archivePath, folder);
    if (extracted && deleteArchive)
        QFile::remove(archivePath);
    return extracted;
}

bool PackageInstaller::removeInstalledFiles(const FileContext &context)
{
    if (context.installed) {
        for (const QString &entry : qAsConst(context.installed->uninstall->remove)) {
            const QString path = entryLocation(context.root, entry);
            if (path.isEmpty())
                continue;
            const QFileInfo info(path);
            // A link goes, never what it points at.
            if (info.isSymLink()) {
                QFile::remove(path);
            } else if (info.isDir()) {
                QDir(path).removeRecursively();
                qDebug() << "Removing directory : " << path;
            } else if (info.exists()) {
                QFile::remove(path);
            }
        }
    }
    PreserveAndBackup::restoreBackupFiles(context);
    return true;
}

} // namespace KOV::Controllers
