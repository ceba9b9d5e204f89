#pragma once

#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>

#include "controllers/packagedatabase.h"

namespace KOV::Controllers {

/** What a comparison of the X-Plane folder with a package's manifest found. */
struct VerifyResult
{
    QStringList missing;
    QStringList changed;
    /** Preserved files are the user's to change: listed apart, never a fault. */
    QStringList changedPreserved;
    bool isIntact() const { return missing.isEmpty() && changed.isEmpty(); }
};

/** Checks the files a package put in place against its manifest: the size first, then the CRC32. */
class ManifestVerifier final
{
public:
    /** Called with the number of files checked so far; may come from any thread. */
    using Progress = std::function<void(int done, int total)>;

    static VerifyResult verify(const QString &root, const QVector<ManifestEntry> &manifest,
                               const QStringList &preserved, const Progress &progress = {},
                               const std::atomic<bool> *cancelled = nullptr);
    /** The manifest's files still below `root`, except the `expected` ones (X-Plane's own that went back). */
    static QStringList stillPresent(const QString &root, const QVector<ManifestEntry> &manifest,
                                    const QStringList &expected);
    /** The CRC32 of a file's contents, as zip and 7z record it; false when it cannot be read. */
    static bool fileCrc(const QString &path, quint32 *crc);
};

} // namespace KOV::Controllers
