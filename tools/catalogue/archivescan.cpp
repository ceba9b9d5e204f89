#include "catalogue/archivescan.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>

#include "extractors/p7zipextractor.h"
#include "managers/sha256.h"

namespace KOV::Publishing {

ArchiveScan ArchiveScan::scan(const QString &archive)
{
    ArchiveScan result;
    const QFileInfo info(archive);
    Managers::Sha256 hash;
    if (!info.isFile() || !hash.addFile(archive))
        return result;
    result.sha256 = QString::fromLatin1(hash.hexResult());
    result.size = info.size();
    // The installer's own listing: what it refuses, this reports.
    Extractors::P7ZipExtractor extractor;
    const Extractors::ArchiveListing listing = extractor.list(archive);
    if (!listing.readable)
        return result;
    result.readable = true;
    result.unpackedSize = listing.unpackedSize;
    result.unsafe = listing.unsafeEntries;
    for (const Extractors::ArchiveEntry &entry : listing.entries) {
        const QString path = QDir::cleanPath(QDir::fromNativeSeparators(entry.path));
        result.paths << path;
        const QString top = path.section(QLatin1Char('/'), 0, 0);
        if (!top.isEmpty() && !result.folders.contains(top))
            result.folders << top;
    }
    // Where a link points is known only once it is unpacked, as the installer does it.
    const bool links = std::any_of(listing.entries.cbegin(), listing.entries.cend(),
                                   [](const Extractors::ArchiveEntry &entry) { return entry.link; });
    if (links && !listing.unsafe) {
        QTemporaryDir folder;
        if (!extractor.unpack(archive, folder.path())) {
            const QString dangerous = Extractors::P7ZipExtractor::dangerousLink(extractor.lastError());
            result.unsafe << (dangerous.isEmpty() ? QStringLiteral("7-Zip cannot unpack it: ") + extractor.lastError()
                                                  : dangerous + QStringLiteral(": a link that points out of its folder"));
        } else {
            for (const QString &path : Extractors::P7ZipExtractor::linksLeaving(listing, folder.path()))
                result.unsafe << path + QStringLiteral(": a link that points out of its folder");
        }
    }
    return result;
}

QJsonObject ArchiveScan::toJson() const
{
    return { { QStringLiteral("sha256"), sha256 },
             { QStringLiteral("size"), double(size) },
             { QStringLiteral("unpacked_size"), double(unpackedSize) },
             { QStringLiteral("folders"), QJsonArray::fromStringList(folders) },
             { QStringLiteral("unsafe"), QJsonArray::fromStringList(unsafe) } };
}

} // namespace KOV::Publishing
