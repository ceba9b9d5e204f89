#include "controllers/packagepaths.h"

#include <QDir>

#include "app/environment.h"
#include "controllers/installpaths.h"

namespace KOV::Controllers {

const QStringList &PackagePaths::xplaneFolders()
{
    // The folders X-Plane itself keeps, the user's and other vendors' files among them.
    static const QStringList folders {
        QStringLiteral("Aircraft"),
        QStringLiteral("Aircraft/Extra Aircraft"),
        QStringLiteral("Aircraft/Laminar Research"),
        QStringLiteral("Airfoils"),
        QStringLiteral("Custom Data"),
        QStringLiteral("Custom Scenery"),
        QStringLiteral("Global Scenery"),
        QStringLiteral("Instructions"),
        QStringLiteral("Output"),
        QStringLiteral("Output/preferences"),
        QStringLiteral("Output/situations"),
        QStringLiteral("Output/replays"),
        QStringLiteral("Resources"),
        QStringLiteral("Resources/default data"),
        QStringLiteral("Resources/default scenery"),
        QStringLiteral("Resources/dlls"),
        QStringLiteral("Resources/fonts"),
        QStringLiteral("Resources/plugins"),
        QStringLiteral("Resources/shaders"),
        QStringLiteral("Resources/sounds"),
        QStringLiteral("Weapons"),
    };
    return folders;
}

bool PackagePaths::isXPlaneFolder(const QString &entry)
{
    const QString key = entryKey(entry);
    return key.isEmpty() || key == QLatin1String(".")
           || xplaneFolders().contains(key, Qt::CaseInsensitive);
}

bool PackagePaths::isWithin(const QString &key, const QString &folder)
{
    if (folder.isEmpty() || folder == QLatin1String("."))
        return true;
    return key == folder || key.startsWith(folder + QLatin1Char('/'));
}

QSet<QString> PackagePaths::withFolders(const QStringList &files)
{
    QSet<QString> paths;
    for (const QString &file : files) {
        QString key = entryKey(file);
        while (!key.isEmpty() && key != QLatin1String(".") && !paths.contains(key)) {
            paths.insert(key);
            const int slash = key.lastIndexOf(QLatin1Char('/'));
            key = slash < 0 ? QString() : key.left(slash);
        }
    }
    return paths;
}

QString PackagePaths::refuseRemoveEntry(const QString &entry, const QString &extract)
{
    if (!staysInside(entry))
        return entryOutsideText(entry);
    const QString key = entryKey(entry);
    const QString extractKey = entryKey(extract);
    // Never X-Plane's own, never the folder a package lives in.
    if (isXPlaneFolder(key) || (key != extractKey && isWithin(extractKey, key)))
        return notOwnText(entry);
    return QString();
}

QString PackagePaths::refuseRemove(const QString &entry, const QString &extract, const QSet<QString> &own,
                                   const QHash<QString, int> &others)
{
    const QString refusal = refuseRemoveEntry(entry, extract);
    if (!refusal.isEmpty())
        return refusal;
    const QString key = entryKey(entry);
    for (auto it = others.cbegin(); it != others.cend(); ++it) {
        if (isWithin(it.key(), key) && !own.contains(it.key()))
            return notOwnText(entry);
    }
    const QString extractKey = entryKey(extract);
    const bool ownFolder = !isXPlaneFolder(extractKey) && isWithin(key, extractKey);
    return own.contains(key) || ownFolder ? QString() : notOwnText(entry);
}

QString PackagePaths::extractOutsideText(const QString &path)
{
    return tr("The package's folder lies outside the X-Plane folder: %1").arg(QDir::toNativeSeparators(path));
}

QString PackagePaths::entryOutsideText(const QString &path)
{
    return tr("The package names a path outside the X-Plane folder: %1").arg(QDir::toNativeSeparators(path));
}

QString PackagePaths::notOwnText(const QString &path)
{
    return tr("The package wants to remove %1, which holds files that are not its own.")
        .arg(QDir::toNativeSeparators(path));
}

QString PackagePaths::linkOutsideText(const QString &path)
{
    return tr("%1 leads outside the X-Plane folder through a link.").arg(QDir::toNativeSeparators(path));
}

} // namespace KOV::Controllers
