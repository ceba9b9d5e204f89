#pragma once

#include <QCoreApplication>
#include <QHash>
#include <QSet>
#include <QStringList>

namespace KOV::Controllers {

/**
 * Which places of the X-Plane folder belong to a package: what its remove list may take, and which of
 * X-Plane's own folders no package ever removes. The installer and the catalogue checker apply the same rule.
 */
class PackagePaths final
{
    Q_DECLARE_TR_FUNCTIONS(KOV::Controllers::PackagePaths)
public:
    /** X-Plane's own folders, relative to its root, in their shared form. */
    static const QStringList &xplaneFolders();
    /** The root itself ("" or ".") or one of xplaneFolders(), in any spelling. */
    static bool isXPlaneFolder(const QString &entry);
    /** Whether `key` is `folder` itself or lies below it (both in their shared form); "" holds everything. */
    static bool isWithin(const QString &key, const QString &folder);
    /** Every path of `files` and every folder that holds one of them, in their shared form. */
    static QSet<QString> withFolders(const QStringList &files);

    /**
     * Why the remove entry `entry` of a version that unpacks into `extract` can never be right, whatever is on
     * disk, or empty: a path outside, the root or one of X-Plane's own folders, an ancestor of the extract
     * folder.
     */
    static QString refuseRemoveEntry(const QString &entry, const QString &extract);
    /**
     * Why `entry` may not be removed, or empty when it may: refuseRemoveEntry(), or a folder that holds a file
     * of `others` (path -> the package that put it there) that is not also the package's own, or a path that
     * is neither in `own` (the package's recorded files with their folders, and what its archive lists) nor
     * inside an extract folder that is neither the root nor one of X-Plane's own.
     */
    static QString refuseRemove(const QString &entry, const QString &extract, const QSet<QString> &own,
                                const QHash<QString, int> &others);

    /** "The package's folder lies outside the X-Plane folder: %1" */
    static QString extractOutsideText(const QString &path);
    /** "The package names a path outside the X-Plane folder: %1" */
    static QString entryOutsideText(const QString &path);
    /** "The package wants to remove %1, which holds files that are not its own." */
    static QString notOwnText(const QString &path);
    /** "%1 leads outside the X-Plane folder through a link." */
    static QString linkOutsideText(const QString &path);
};

} // namespace KOV::Controllers
