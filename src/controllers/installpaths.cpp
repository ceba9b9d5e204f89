#include "controllers/installpaths.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>

#include "app/environment.h"

namespace KOV::Controllers {

QString entryLocation(const QString &base, const QString &entry)
{
    QString trimmed = entry;
    trimmed.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QStringList parts = trimmed.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const bool namesRoot = std::all_of(parts.cbegin(), parts.cend(),
                                       [](const QString &part) { return part == QLatin1String("."); });
    if (!staysInside(entry) || namesRoot) {
        qDebug() << "Skipping entry outside the X-Plane folder : " << entry;
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

bool putBack(const QString &saved, const QString &destination)
{
    ensureDir(parentFolder(destination), true);
    const QFileInfo target(destination);
    if ((target.exists() || target.isSymLink()) && !target.isDir())
        QFile::remove(destination);
    if (!QFile::copy(saved, destination)) {
        qDebug() << "Keeping saved copy, it could not be put back : " << saved;
        return false;
    }
    QFile::remove(saved);
    return true;
}

} // namespace KOV::Controllers
