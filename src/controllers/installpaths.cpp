#include "controllers/installpaths.h"

#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>

#include "app/environment.h"
#include "app/logging.h"

namespace KOV::Controllers {

QString entryLocation(const QString &base, const QString &entry)
{
    QString trimmed = entry;
    trimmed.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QStringList parts = trimmed.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const bool namesRoot = std::all_of(parts.cbegin(), parts.cend(),
                                       [](const QString &part) { return part == QLatin1String("."); });
    if (!staysInside(entry) || namesRoot) {
        qCWarning(lcInstall) << "Skipping entry outside the X-Plane folder : " << entry;
        return QString();
    }
    return base + QDir::separator() + entry;
}

QString parentFolder(const QString &path)
{
    return QFileInfo(path).absolutePath();
}

QString entryKey(const QString &entry)
{
    return QDir::cleanPath(QDir::fromNativeSeparators(entry));
}

bool copyPath(const QString &source, const QString &destination)
{
    const QFileInfo info(source);
    if (!ensureDir(parentFolder(destination), true))
        return false;
    bool copied = true;
    if (info.isSymLink()) {
        copied = QFile::link(info.symLinkTarget(), destination);
    } else if (info.isDir()) {
        copied = QDir().mkdir(destination);
        const QStringList names
            = QDir(source).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (int i = 0; copied && i < names.size(); ++i)
            copied = copyPath(source + QLatin1Char('/') + names.at(i),
                              destination + QLatin1Char('/') + names.at(i));
    } else {
        copied = QFile::copy(source, destination);
    }
    if (!copied)
        removePath(destination);
    return copied;
}

bool removePath(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (info.isDir() && !info.isSymLink())
        return QDir(path).removeRecursively();
    return QFile::remove(path);
}

bool moveFolderContents(const QString &from, const QString &to)
{
    if (QDir::cleanPath(from) == QDir::cleanPath(to))
        return true;
    const QStringList names
        = QDir(from).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        const QFileInfo taken(to + QLatin1Char('/') + name);
        if (taken.exists() || taken.isSymLink()) {
            qCWarning(lcInstall) << "Cannot move saved files, the name is taken : " << taken.filePath();
            return false;
        }
    }
    if (!names.isEmpty() && !ensureDir(to, true))
        return false;
    QStringList moved;
    for (const QString &name : names) {
        const QString source = from + QLatin1Char('/') + name;
        const QString target = to + QLatin1Char('/') + name;
        // Another disk: copied, and the original goes only once the copy is whole.
        bool done = QDir().rename(source, target);
        if (!done && copyPath(source, target)) {
            done = removePath(source);
            if (!done)
                removePath(target);
        }
        if (!done) {
            qCWarning(lcInstall) << "Cannot move saved files : " << source << " to " << target;
            for (const QString &back : qAsConst(moved)) {
                const QString again = to + QLatin1Char('/') + back;
                if (!QDir().rename(again, from + QLatin1Char('/') + back)
                    && copyPath(again, from + QLatin1Char('/') + back))
                    removePath(again);
            }
            return false;
        }
        moved << name;
    }
    return true;
}

qint64 pathSize(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink() || !info.exists())
        return 0;
    if (!info.isDir())
        return info.size();
    qint64 size = 0;
    QDirIterator files(path, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        files.next();
        size += files.fileInfo().size();
    }
    return size;
}

} // namespace KOV::Controllers
