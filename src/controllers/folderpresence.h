#pragma once

#include <QHash>
#include <QSet>
#include <QString>

namespace KOV::Controllers {

/**
 * Tells whether folders exist by listing each parent folder once: a catalogue of thousands of packages
 * below a few folders costs a few listings instead of a probe per package.
 */
class FolderPresence final
{
public:
    bool exists(const QString &path);

private:
    // Parent folder -> the names of its subfolders.
    QHash<QString, QSet<QString>> m_children;
};

} // namespace KOV::Controllers
