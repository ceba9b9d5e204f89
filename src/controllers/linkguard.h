#pragma once

#include <QString>

namespace KOV::Controllers {

/**
 * Follows the links a user made inside the X-Plane folder: a path may be changed only where it really lies
 * inside the X-Plane folder, or inside the package's own extract folder wherever that one really is (a
 * scenery folder linked to another disk).
 */
class LinkGuard final
{
public:
    /** `root` and `extractFolder` as they are written; both are resolved here. */
    LinkGuard(const QString &root, const QString &extractFolder);

    /**
     * Where `path` really is: the folder that holds it with every link resolved, then its own name (a link
     * itself is where it stands, not where it points).
     */
    static QString resolvedLocation(const QString &path);
    /** Where a folder really is, itself followed when it is a link. */
    static QString resolvedFolder(const QString &path);
    /** Whether the resolved `location` lies inside the X-Plane folder or the package's own folder. */
    bool allows(const QString &location) const;
    /** Whether changing `path` (itself, not what a link there points at) stays in allowed places. */
    bool allowsPath(const QString &path) const { return allows(resolvedLocation(path)); }

private:
    QString m_root;
    QString m_own;
};

} // namespace KOV::Controllers
