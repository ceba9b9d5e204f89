#include "controllers/linkguard.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace KOV::Controllers {

namespace {

bool isWithinFolder(const QString &path, const QString &folder)
{
    if (folder.isEmpty())
        return false;
    return path == folder || path.startsWith(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
}

} // namespace

LinkGuard::LinkGuard(const QString &root, const QString &extractFolder)
    : m_root(resolvedFolder(root))
    , m_own(resolvedFolder(extractFolder))
{
}

QString LinkGuard::resolvedLocation(const QString &path)
{
    const QFileInfo info(QDir::cleanPath(QDir::fromNativeSeparators(path)));
    QString folder = info.absolutePath();
    QStringList missing { info.fileName() };
    // Up to the nearest folder that is there: what is below it does not exist yet and holds no link.
    while (!QFileInfo(folder).isDir()) {
        const QFileInfo up(folder);
        if (up.absolutePath() == folder)
            break;
        missing.prepend(up.fileName());
        folder = up.absolutePath();
    }
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return QDir::cleanPath((canonical.isEmpty() ? folder : canonical) + QLatin1Char('/')
                           + missing.join(QLatin1Char('/')));
}

QString LinkGuard::resolvedFolder(const QString &path)
{
    const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(path));
    const QString canonical = QFileInfo(clean).canonicalFilePath();
    return canonical.isEmpty() ? resolvedLocation(clean) : canonical;
}

bool LinkGuard::allows(const QString &location) const
{
    return isWithinFolder(location, m_root) || isWithinFolder(location, m_own);
}

} // namespace KOV::Controllers
