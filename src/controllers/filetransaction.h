#pragma once

#include <QString>
#include <QVector>

namespace KOV::Controllers {

/**
 * Changes below one folder that can be undone: what is replaced is renamed aside, not deleted, until
 * commit(). Every path handed in must lie on the file system of the root, so that each step is a rename.
 */
class FileTransaction final
{
    Q_DISABLE_COPY_MOVE(FileTransaction)
public:
    explicit FileTransaction(const QString &root);
    /** Rolls back what was neither committed nor rolled back. */
    ~FileTransaction();

    /** Renames `path` (a file, link or folder) out of the way; true when it is gone or was never there. */
    bool moveAside(const QString &path);
    /** Renames `source` to `destination`, which must not exist; missing parent folders are made. */
    bool moveInto(const QString &source, const QString &destination);
    /** Copies a file to `destination`, moving what is there aside first. */
    bool copyInto(const QString &source, const QString &destination);
    /** Deletes what was moved aside; the changes stay. */
    bool commit();
    /** Undoes every step, last first; false when something could not be put back (it stays aside). */
    bool rollback();

    /** The path the last failed step could not change. */
    QString failedPath() const { return m_failedPath; }
    /** The folder that holds what was moved aside. */
    QString asideFolder() const { return m_aside; }

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

    QString m_root;
    QString m_aside;
    QVector<Step> m_steps;
    QString m_failedPath;
    int m_counter = 0;
    bool m_open = true;
};

} // namespace KOV::Controllers
