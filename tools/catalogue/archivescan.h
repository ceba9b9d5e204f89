#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace KOV::Publishing {

/** What a publisher needs to know of an archive for its catalogue entry, read as the installer reads it. */
class ArchiveScan final
{
public:
    bool readable = false;
    QString sha256;
    qint64 size = 0;
    qint64 unpackedSize = 0;
    /** The names at the archive's top. */
    QStringList folders;
    /** Entries the installer refuses, each with why. */
    QStringList unsafe;
    /** Every path of the archive, relative to the folder it unpacks into. */
    QStringList paths;

    static ArchiveScan scan(const QString &archive);
    /** The version stub: sha256, size, unpacked_size, folders, unsafe. */
    QJsonObject toJson() const;
};

} // namespace KOV::Publishing
