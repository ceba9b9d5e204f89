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

// A full or read-only disk, else the archive: 7-Zip's complaint and the file system tell which.
QString extractionFailureReason(const QString &error, const QString &folder)
{
    const QString diskReason = writeFailureReason(folder);
    if (diskReason == PackageInstaller::tr("Not enough disk space"))
        return diskReason;
    const QString lower = error.toLower();
    if (lower.contains(QLatin1String("no space")) || lower.contains(QLatin1String("not enough space")))
        return PackageInstaller::tr("Not enough disk space");
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

} // namespace

InstallOutcome PackageInstaller::install(const QSharedPointer<Package> &package, const QString &version,
                                         const QString &archivePath, const FileContext &context,
                                         InstallJournal *journal)
{
    if (archivePath.isEmpty() || package->versions().isEmpty())
        return failure(tr("The archive is damaged"));
    const Models::PackageVersion &target = *package->versions().at(Models::versionIndex(package, version));
    const QString extract = target.install->extract;
    if (!staysInside(extract)) {
        qCWarning(lcInstall) << "Extract folder outside the X-Plane folder : " << extract;
        return failure(tr("The archive is damaged"));
    }

    // 1. The archive is read before anything is touched: a damaged or unsafe one changes nothing.
    Extractors::P7ZipExtractor extractor;
    if (!extractor.isAvailable())
        return failure(tr("7-Zip was not found"));
    const Extractors::ArchiveListing listing = extractor.list(archivePath);
    if (!listing.readable || listing.unsafe)
        return failure(tr("The archive is damaged"));

    // Files another package put in place are overwritten only when the user says so.
    if (!context.overwriteOwned && !context.ownedFiles.isEmpty()) {
        InstallOutcome outcome;
        for (const Extractors::ArchiveEntry &entry : listing.entries) {
            const auto owner = context.ownedFiles.constFind(archiveKey(extract, entry.path));
            if (!entry.folder && owner != context.ownedFiles.constEnd())
                outcome.conflicts[*owner] << owner.key();
        }
        if (!outcome.conflicts.isEmpty())
            return outcome;
    }

    // 2. Room for the staged copy beside the old version, and for the saved files.
    const QString stagingParent = stagingFolderFor(context.root, extract);
    if (!hasRoomFor(stagingParent, listing.unpackedSize)
        || !hasRoomFor(context.preserveFolder, PreserveAndBackup::preserveSize(target, context))
        || !hasRoomFor(context.backupFolder, PreserveAndBackup::backupSize(target, context)))
        return failure(tr("Not enough disk space"));

    const QString staging = stagingParent + QStringLiteral("/.KOV_staging_")
                            + QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!record(journal, QStringLiteral("saving"),
                { { QStringLiteral("staging"), staging },
                  { QStringLiteral("copies"), toJson(PreserveAndBackup::copiesToMake(target, context)) } }))
        return failure(journalFailureReason(journal));

    // 3. Every saved copy checked; what this run saved goes again when the installation does not happen.
    QStringList saved;
    if (!PreserveAndBackup::preserveFiles(target, context, &saved)) {
        removeAll(saved);
        return failure(writeFailureReason(context.preserveFolder));
    }
    // Saved before the old files go: on a first install the remove list may name X-Plane's own file.
    if (!PreserveAndBackup::backupFiles(target, context, &saved)) {
        removeAll(saved);
        return failure(writeFailureReason(context.backupFolder));
    }

    // 4. Unpacked beside its destination, so that putting it in place is a rename per entry.
    if (!record(journal, QStringLiteral("unpacking"))) {
        removeAll(saved);
        return failure(journalFailureReason(journal));
    }
    if (!QDir().mkdir(staging)) {
        removeAll(saved);
        return failure(writeFailureReason(stagingParent));
    }
    if (!extractor.unpack(archivePath, staging)) {
        const QString reason = extractionFailureReason(extractor.lastError(), stagingParent);
        removeAll(saved);
        removePath(staging);
        return failure(reason);
    }

    // 5. The swap: old files aside, staged files in, saved files back; any failure undoes all of it.
    FileTransaction transaction;
    QStringList restoredPreserves;
    QStringList restoredBackups;
    bool placed
        = !journal
          || (record(journal, QStringLiteral("placing")) && transaction.setLog(journal->transactionLog()));
    if (context.installed) {
        for (const QString &entry : qAsConst(context.installed->uninstall->remove)) {
            const QString path = entryLocation(context.root, entry);
            if (!path.isEmpty() && !(placed = transaction.moveAside(path)))
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
        QStringList keep = keys(target.install->backup);
        for (const Extractors::ArchiveEntry &entry : listing.entries)
            keep << archiveKey(extract, entry.path);
        placed = PreserveAndBackup::restoreBackupFiles(context, keep, transaction, &restoredBackups);
    }
    // X-Plane's files that the remove list moved and this archive does not bring again.
    if (placed) {
        for (const QString &entry : qAsConst(target.install->backup)) {
            const QString path = entryLocation(context.root, entry);
            const QString copy = context.backupFolder + QDir::separator() + entry;
            if (!path.isEmpty() && !QFileInfo::exists(path) && QFileInfo::exists(copy)
                && !(placed = transaction.copyInto(copy, path)))
                break;
        }
    }
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
            if (path.isEmpty())
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
