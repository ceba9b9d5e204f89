#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

namespace KOV::Controllers {

/**
 * Changes to files that can be undone: what is replaced is renamed aside, beside itself so that it stays on
 * its own file system, and deleted only by commit().
 */
class FileTransaction final
{
    Q_DISABLE_COPY_MOVE(FileTransaction)
public:
    FileTransaction();
    /** Rolls back what was neither committed nor rolled back. */
    ~FileTransaction();

    /** Renames `path` (a file, link or folder) out of the way; true when it is gone or was never there. */
    bool moveAside(const QString &path);
    /**
     * Renames `source` to `destination`, which must not exist; missing parent folders are made. Across file
     * systems it is copied instead.
     */
    bool moveInto(const QString &source, const QString &destination);
    /** Copies a file to `destination`, moving what is there aside first. */
    bool copyInto(const QString &source, const QString &destination);
    /** Deletes what was moved aside; the changes stay. */
    bool commit();
    /** Undoes every step, last first; false when something could not be put back (it stays aside). */
    bool rollback();

    /** The path the last failed step could not change. */
    QString failedPath() const { return m_failedPath; }

private:
    enum Kind { MovedAside, Placed, MadeFolder };
    struct Step
    {
        Kind kind;
        QString path;
        QString aside;
    };

    bool makeParents(const QString &path);
    bool fail(const QString &path);

    QString m_asidePrefix;
    QVector<Step> m_steps;
    QString m_failedPath;
    int m_counter = 0;
    bool m_open = true;
};

} // namespace KOV::Controllers
