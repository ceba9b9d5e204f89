#include "controllers/folderpresence.h"

#include <QDir>

namespace KOV::Controllers {

namespace {

QString folded(const QString &name)
{
#ifdef Q_OS_WIN
    // Windows finds a folder whatever the case of its name.
    return name.toCaseFolded();
#else
    return name;
#endif
}

} // namespace

bool FolderPresence::exists(const QString &path)
{
    const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(path));
    const int slash = clean.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return QDir(clean).exists();
    const QString parent = clean.left(slash);
    auto children = m_children.find(parent);
    if (children == m_children.end()) {
        QSet<QString> names;
        const QStringList entries
            = QDir(parent).entryList(QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &entry : entries)
            names.insert(folded(entry));
        children = m_children.insert(parent, names);
    }
    return children->contains(folded(clean.mid(slash + 1)));
}

} // namespace KOV::Controllers
