#include "controllers/manifestverifier.h"

#include <QFile>
#include <QFileInfo>

#include <zlib.h>

#include "controllers/installpaths.h"

namespace KOV::Controllers {

namespace {

// A preserve entry names a file or a folder; anything below a preserved folder is preserved too.
bool isPreserved(const QString &path, const QStringList &preserved)
{
    for (const QString &entry : preserved) {
        const QString key = entryKey(entry);
        if (path == key || path.startsWith(key + QLatin1Char('/')))
            return true;
    }
    return false;
}

} // namespace

bool ManifestVerifier::fileCrc(const QString &path, quint32 *crc)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    uLong value = crc32(0L, Z_NULL, 0);
    QByteArray buffer(1024 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 read = file.read(buffer.data(), buffer.size());
        if (read < 0)
            return false;
        if (read == 0)
            break;
        value = crc32(value, reinterpret_cast<const Bytef *>(buffer.constData()), uInt(read));
    }
    *crc = quint32(value);
    return true;
}

VerifyResult ManifestVerifier::verify(const QString &root, const QVector<ManifestEntry> &manifest,
                                      const QStringList &preserved, const Progress &progress,
                                      const std::atomic<bool> *cancelled)
{
    VerifyResult result;
    for (int i = 0; i < manifest.size(); ++i) {
        if (cancelled && cancelled->load())
            break;
        const ManifestEntry &entry = manifest.at(i);
        const QString path = root + QLatin1Char('/') + entry.path;
        const QFileInfo info(path);
        if (!info.isFile()) {
            result.missing << entry.path;
        } else {
            quint32 crc = 0;
            // The size is free to check; only a file of the right size is read.
            const bool same = info.size() == entry.size && fileCrc(path, &crc) && crc == entry.crc;
            if (!same)
                (isPreserved(entry.path, preserved) ? result.changedPreserved : result.changed) << entry.path;
        }
        if (progress)
            progress(i + 1, manifest.size());
    }
    return result;
}

QStringList ManifestVerifier::stillPresent(const QString &root, const QVector<ManifestEntry> &manifest,
                                           const QStringList &expected)
{
    QStringList present;
    for (const ManifestEntry &file : manifest) {
        if (!expected.contains(file.path) && QFileInfo::exists(root + QLatin1Char('/') + file.path))
            present << file.path;
    }
    return present;
}

} // namespace KOV::Controllers
