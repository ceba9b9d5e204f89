#include "controllers/packageinstaller.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QUuid>

#include "app/environment.h"
#include "app/logging.h"
#include "controllers/filetransaction.h"
#include "controllers/installjournal.h"
#include "controllers/installpaths.h"
#include "controllers/linkguard.h"
#include "controllers/packagepaths.h"
#include "controllers/preserveandbackup.h"
#include "extractors/p7zipextractor.h"

namespace KOV::Controllers {

using Models::Package;

namespace {

InstallOutcome failure(const QString &reason)
{
    qCWarning(lcInstall) << "Installation failed : " << reason;
    return { false, reason, {}, {}, {} };
}

void removeAll(const QStringList &paths)
{
    for (const QString &path : paths)
        removePath(path);
}

// Moves a staged tree into place, merging into folders that are there; what it replaces is moved aside.
bool moveTree(FileTransaction &transaction, const QString &staged, const QString &destination)
{
    const QStringList names
        = QDir(staged).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        const QString source = staged + QLatin1Char('/') + name;
        const QString target = destination + QLatin1Char('/') + name;
        const QFileInfo sourceInfo(source);
        // A folder linked elsewhere (scenery on another disk) is merged into, as 7-Zip would.
        if (sourceInfo.isDir() && !sourceInfo.isSymLink() && QFileInfo(target).isDir()) {
            if (!moveTree(transaction, source, target))
                return false;
            continue;
        }
        if (!transaction.moveAside(target) || !transaction.moveInto(source, target))
            return false;
    }
    return true;
}

// Where an archive entry lands, relative to the X-Plane folder: an empty extract folder adds no slash.
QString archiveKey(const QString &extract, const QString &path)
{
    return entryKey(extract.isEmpty() ? path : extract + QLatin1Char('/') + path);
}

QStringList keys(const QStringList &entries)
{
    QStringList result;
    for (const QString &entry : entries)
        result << entryKey(entry);
    return result;
}

QString linkOutOfArchiveText(const QString &path)
{
    return PackageInstaller::tr("The archive holds a link that leads outside its folder: %1").arg(path);
}

// A full or read-only disk, else the archive: 7-Zip's complaint and the file system tell which.
QString extractionFailureReason(const QString &error, const QString &folder, const QString &extract)
{
    // 7-Zip itself refuses a link that points out of the folder it unpacks into.
    const QString dangerous = Extractors::P7ZipExtractor::dangerousLink(error);
    if (!dangerous.isEmpty())
        return linkOutOfArchiveText(archiveKey(extract, dangerous));
    if (isDiskFull(folder))
        return notEnoughSpaceText(folder);
    const QString diskReason = writeFailureReason(folder);
    const QString lower = error.toLower();
    if (lower.contains(QLatin1String("no space")) || lower.contains(QLatin1String("not enough space")))
        return notEnoughSpaceText(folder);
    if (lower.contains(QLatin1String("read-only")) || lower.contains(QLatin1String("permission denied"))
        || lower.contains(QLatin1String("can not open output file")))
        return diskReason;
    return PackageInstaller::tr("The archive is damaged");
}

// The existing folder that will hold the extract folder: the staging folder goes there, on its file system.
QString stagingFolderFor(const QString &root, const QString &extract)
{
    const QString destination = QDir::cleanPath(root + QLatin1Char('/') + extract);
    if (destination == QDir::cleanPath(root))
        return destination;
    QString folder = parentFolder(destination);
    while (!QFileInfo(folder).isDir() && folder != parentFolder(folder))
        folder = parentFolder(folder);
    return QFileInfo(folder).canonicalFilePath();
}

// Each step is recorded before it is taken; one that cannot be recorded is not taken.
bool record(InstallJournal *journal, const QString &step, const QJsonObject &data = QJsonObject())
{
    return !journal || journal->record(step, data);
}

QString journalFailureReason(InstallJournal *journal)
{
    return writeFailureReason(parentFolder(journal->transactionLog()));
}

QJsonArray toJson(const QStringList &paths)
{
    return QJsonArray::fromStringList(paths);
}

// The root itself, in any spelling: never an entry of its own.
bool namesRoot(const QString &entry)
{
    const QString key = entryKey(entry);
    return key.isEmpty() || key == QLatin1String(".");
}

// Why the installed version's remove list may not be applied, or empty. `listed` is what the archive on its
// way brings (relative to the root); an uninstallation has none.
QString removeRefusal(const FileContext &context, const QStringList &listed)
{
    if (!context.installed)
        return QString();
    const QString extract = context.installed->install->extract;
    if (!staysInside(extract))
        return PackagePaths::extractOutsideText(extract);
    QStringList owned = context.ownFiles + listed;
    // X-Plane's files this package saved go back after they are removed: nothing of them is lost.
    for (const QString &entry : qAsConst(context.installed->install->backup)) {
        if (staysInside(entry) && QFileInfo::exists(context.backupFolder + QDir::separator() + entry))
            owned << entryKey(entry);
    }
    const QSet<QString> own = PackagePaths::withFolders(owned);
    const LinkGuard guard(context.root, context.root + QLatin1Char('/') + extract);
    for (const QString &entry : qAsConst(context.installed->uninstall->remove)) {
        QString refusal = PackagePaths::refuseRemoveEntry(entry, extract);
        const QString path = context.root + QLatin1Char('/') + entry;
        const QFileInfo info(path);
        // What is not there takes nothing from anybody.
        if (refusal.isEmpty() && (info.exists() || info.isSymLink()))
            refusal = PackagePaths::refuseRemove(entry, extract, own, context.ownedFiles);
        if (!refusal.isEmpty())
            return refusal;
        // The entry itself may be a link (it goes, not what it points at); the folders that hold it may not
        // lead elsewhere.
        if (!guard.allowsPath(path))
            return PackagePaths::linkOutsideText(entry);
    }
    return QString();
}

// A file of the remove list that another installed package recorded too stays for that one.
bool sharedWithAnother(const FileContext &context, const QString &entry)
{
    const auto other = context.ownedFiles.constFind(entryKey(entry));
    if (other == context.ownedFiles.constEnd())
        return false;
    qCInfo(lcInstall) << "Left in place for package" << *other << ":" << entry;
    return true;
}

// Why the installation may not do what the catalogue and the archive ask, or empty: checked before anything
// changes.
QString installRefusal(const Models::PackageVersion &target, const FileContext &context,
                       const Extractors::ArchiveListing &listing, const QStringList &listed)
{
    const QString extract = target.install->extract;
    const QString destination = context.root + QLatin1Char('/') + extract;
    const LinkGuard guard(context.root, destination);
    for (const QString &entry : target.install->preserve + target.install->backup) {
        if (!staysInside(entry) || namesRoot(entry))
            return PackagePaths::entryOutsideText(entry);
        if (!guard.allowsPath(context.root + QLatin1Char('/') + entry))
            return PackagePaths::linkOutsideText(entry);
    }
    const QString remove = removeRefusal(context, listed);
    if (!remove.isEmpty())
        return remove;
    // A folder of the archive that is a link on disk would take the files wherever it points.
    QSet<QString> folders;
    for (const Extractors::ArchiveEntry &entry : listing.entries) {
        QString folder = entry.folder ? entryKey(entry.path) : parentFolder(QLatin1Char('/') + entryKey(entry.path)).mid(1);
        while (!folder.isEmpty() && !folders.contains(folder)) {
            folders.insert(folder);
            const QString path = destination + QLatin1Char('/') + folder;
            if (QFileInfo(path).isSymLink() && !guard.allows(LinkGuard::resolvedFolder(path)))
                return PackagePaths::linkOutsideText(archiveKey(extract, folder));
            const int slash = folder.lastIndexOf(QLatin1Char('/'));
            folder = slash < 0 ? QString() : folder.left(slash);
        }
    }
    return QString();
}

} // namespace

InstallOutcome PackageInstaller::install(const QSharedPointer<Package> &package, const QString &version,
                                         const QString &archivePath, const FileContext &context,
                                         InstallJournal *journal)
{
    if (archivePath.isEmpty() || package->versions().isEmpty())
        return failure(tr("The archive is damaged"));
    const Models::PackageVersion &target = *package->versions().at(Models::versionIndex(package, version));
    const QString extract = target.install->extract;
    if (!staysInside(extract))
        return failure(PackagePaths::extractOutsideText(extract));

    // 1. The archive is read before anything is touched: a damaged or unsafe one changes nothing.
    Extractors::P7ZipExtractor extractor;
    if (!extractor.isAvailable())
        return failure(tr("7-Zip was not found"));
    const Extractors::ArchiveListing listing = extractor.list(archivePath);
    if (!listing.readable || listing.unsafe)
        return failure(tr("The archive is damaged"));
    QStringList listed;
    QStringList listedFiles;
    for (const Extractors::ArchiveEntry &entry : listing.entries) {
        listed << archiveKey(extract, entry.path);
        if (!entry.folder)
            listedFiles << listed.last();
    }
    // What the catalogue asks must be the package's own, through every link on the way.
    const QString refusal = installRefusal(target, context, listing, listed);
    if (!refusal.isEmpty())
        return failure(refusal);

    // Files another package put in place are overwritten only when the user says so.
    if (!context.overwriteOwned && !context.ownedFiles.isEmpty()) {
        InstallOutcome outcome;
        for (const QString &file : qAsConst(listedFiles)) {
            const auto owner = context.ownedFiles.constFind(file);
            if (owner != context.ownedFiles.constEnd())
                outcome.conflicts[*owner] << owner.key();
        }
        if (!outcome.conflicts.isEmpty())
            return outcome;
    }

    // 2. Room for the staged copy beside the old version, and for the saved files.
    const QString stagingParent = stagingFolderFor(context.root, extract);
    const QStringList backups = PreserveAndBackup::filesToBackUp(target, context, listedFiles);
    const QList<QPair<QString, qint64>> needs {
        { stagingParent, listing.unpackedSize },
        { context.preserveFolder, PreserveAndBackup::preserveSize(target, context) },
        { context.backupFolder, PreserveAndBackup::backupSize(backups, context) },
    };
    for (const auto &need : needs) {
        const QString lack = lackOfRoom(need.first, need.second);
        if (!lack.isEmpty())
            return failure(lack);
    }

    const QString staging = stagingParent + QStringLiteral("/.KOV_staging_")
                            + QUuid::createUuid().toString(QUuid::WithoutBraces);
    package->reportInstallStep(QStringLiteral("saving"));
    if (!record(journal, QStringLiteral("saving"),
                { { QStringLiteral("staging"), staging },
                  { QStringLiteral("copies"), toJson(PreserveAndBackup::copiesToMake(target, context, backups)) } }))
        return failure(journalFailureReason(journal));

    // 3. Every saved copy checked; what this run saved goes again when the installation does not happen.
    QStringList saved;
    if (!PreserveAndBackup::preserveFiles(target, context, &saved)) {
        removeAll(saved);
        return failure(writeFailureReason(context.preserveFolder));
    }
    // Saved before the old files go: on a first install the remove list may name X-Plane's own file.
    if (!PreserveAndBackup::backupFiles(backups, context, &saved)) {
        removeAll(saved);
        return failure(writeFailureReason(context.backupFolder));
    }

    // 4. Unpacked beside its destination, so that putting it in place is a rename per entry.
    package->reportInstallStep(QStringLiteral("unpacking"));
    if (!record(journal, QStringLiteral("unpacking"))) {
        removeAll(saved);
        return failure(journalFailureReason(journal));
    }
    if (!QDir().mkdir(staging)) {
        removeAll(saved);
        return failure(writeFailureReason(stagingParent));
    }
    if (!extractor.unpack(archivePath, staging)) {
        const QString reason = extractionFailureReason(extractor.lastError(), stagingParent, extract);
        removeAll(saved);
        removePath(staging);
        return failure(reason);
    }
    // A link the archive brings may point only at what the archive itself unpacked.
    const QStringList leaving = Extractors::P7ZipExtractor::linksLeaving(listing, staging);
    if (!leaving.isEmpty()) {
        removeAll(saved);
        removePath(staging);
        return failure(linkOutOfArchiveText(archiveKey(extract, leaving.first())));
    }

    // 5. The swap: old files aside, staged files in, saved files back; any failure undoes all of it.
    FileTransaction transaction;
    QStringList restoredPreserves;
    QStringList restoredBackups;
    package->reportInstallStep(QStringLiteral("placing"));
    bool placed
        = !journal
          || (record(journal, QStringLiteral("placing")) && transaction.setLog(journal->transactionLog()));
    if (context.installed) {
        for (const QString &entry : qAsConst(context.installed->uninstall->remove)) {
            const QString path = entryLocation(context.root, entry);
            if (!path.isEmpty() && !sharedWithAnother(context, entry) && !(placed = transaction.moveAside(path)))
                break;
        }
    }
    const QString destination = context.root + QLatin1Char('/') + extract;
    if (placed && !QFileInfo(destination).isDir())
        placed = transaction.moveAside(destination) && transaction.moveInto(staging, destination);
    else if (placed)
        placed = moveTree(transaction, staging, destination);
    // The old version's backups that this version does not replace: X-Plane's file goes back.
    // Where this archive brings the file, its copy stays and so does X-Plane's saved one.
    if (placed) {
        const QStringList kept = keys(target.install->backup) + listed;
        placed = PreserveAndBackup::restoreBackupFiles(context, QSet<QString>(kept.cbegin(), kept.cend()),
                                                       transaction, &restoredBackups);
    }
    // X-Plane's files that the remove list moved and this archive does not bring again.
    if (placed)
        placed = PreserveAndBackup::restoreMissingBackups(target, context, transaction);
    if (placed)
        placed = PreserveAndBackup::restorePreservedFiles(target, context, transaction, &restoredPreserves);

    InstallOutcome outcome { true, {}, {}, {}, {}, false };
    // The listing's sizes and CRCs: recording what was put in place costs no hashing.
    for (const Extractors::ArchiveEntry &entry : listing.entries) {
        if (!entry.folder)
            outcome.manifest.append({ archiveKey(extract, entry.path), entry.size, entry.crc });
    }
    // From here on the new version stands, even if the process dies before the clean-up.
    const QStringList restored = restoredPreserves + restoredBackups;
    QString reason;
    if (!placed) {
        reason = writeFailureReason(parentFolder(transaction.failedPath()));
    } else if (journal) {
        outcome.recorded = journal->recordFinal(QStringLiteral("cleaning"),
                                                { { QStringLiteral("restored"), toJson(restored) } },
                                                Package::INSTALLED, &outcome.manifest);
        if (!outcome.recorded)
            reason = journalFailureReason(journal);
    }
    if (!reason.isEmpty()) {
        // Undone in full, the log has nothing left for a restart.
        if (transaction.rollback() && journal)
            QFile::remove(journal->transactionLog());
        removeAll(saved);
        removePath(staging);
        return failure(reason);
    }
    package->reportInstallStep(QStringLiteral("cleaning"));
    transaction.commit();
    removePath(staging);
    // The copies that went back served their purpose.
    removeAll(restored);
    if (journal)
        QFile::remove(journal->transactionLog());
    return outcome;
}

InstallOutcome PackageInstaller::removeInstalledFiles(const FileContext &context, InstallJournal *journal)
{
    InstallOutcome outcome;
    // Refused before anything changes: the remove list takes only the package's own.
    outcome.reason = removeRefusal(context, {});
    if (!outcome.reason.isEmpty()) {
        qCWarning(lcInstall) << "Uninstallation refused : " << outcome.reason;
        return outcome;
    }
    FileTransaction transaction;
    if (journal
        && !(record(journal, QStringLiteral("removing")) && transaction.setLog(journal->transactionLog()))) {
        outcome.reason = journalFailureReason(journal);
        qCWarning(lcInstall) << "Uninstallation failed : " << outcome.reason;
        return outcome;
    }
    if (context.installed) {
        for (const QString &entry : qAsConst(context.installed->uninstall->remove)) {
            const QString path = entryLocation(context.root, entry);
            if (path.isEmpty() || sharedWithAnother(context, entry))
                continue;
            const QFileInfo info(path);
            if (info.isDir() && !info.isSymLink())
                qDebug() << "Removing directory : " << path;
            // A link goes, never what it points at: the rename moves the link itself.
            if (!transaction.moveAside(path))
                outcome.leftovers << entry;
        }
    }
    QStringList restored;
    if (outcome.leftovers.isEmpty()
        && !PreserveAndBackup::restoreBackupFiles(context, {}, transaction, &restored))
        outcome.leftovers << QDir(context.root).relativeFilePath(transaction.failedPath());
    if (!outcome.leftovers.isEmpty())
        outcome.reason = writeFailureReason(parentFolder(transaction.failedPath()));
    // The manifest stays for the report of what the remove list left behind.
    else if (journal
             && !journal->recordFinal(QStringLiteral("cleaning"),
                                      { { QStringLiteral("restored"), toJson(restored) } },
                                      Package::AVAILABLE, nullptr))
        outcome.reason = journalFailureReason(journal);
    if (!outcome.reason.isEmpty()) {
        qCWarning(lcInstall) << "Uninstallation failed : " << outcome.reason << outcome.leftovers;
        if (transaction.rollback() && journal)
            QFile::remove(journal->transactionLog());
        return outcome;
    }
    transaction.commit();
    removeAll(restored);
    if (journal)
        QFile::remove(journal->transactionLog());
    outcome.done = true;
    outcome.recorded = journal != nullptr;
    return outcome;
}

} // namespace KOV::Controllers
