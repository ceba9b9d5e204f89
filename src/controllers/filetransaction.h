#pragma once

#include <QFile>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

namespace KOV::Controllers {

/**
 * Changes to files that can be undone: what is replaced is renamed aside, beside itself so that it stays on
 * its own file system, and deleted only by commit(). With a log, each step is written down before it is
 * taken, so that another process can undo or finish it after this one was killed.
 */
class FileTransaction final
{
    Q_DISABLE_COPY_MOVE(FileTransaction)
public:
    FileTransaction();
    /** Rolls back what was neither committed nor rolled back. */
    ~FileTransaction();

    /** Writes every step to `path` before taking it; false when the file cannot be made. */
    bool setLog(const QString &path);
    /** Undoes the steps of a log left by a killed process that were not undone yet; false if any stays. */
    static bool undoLog(const QString &path);
    /** Deletes what a killed process moved aside after its changes were final. */
    static bool finishLog(const QString &path);

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

    /** For the crash tests: called with its number after each step is logged, before it is taken. */
    static void setStepHook(std::function<void(int step)> hook);

    /** The path the last failed step could not change. */
    QString failedPath() const { return m_failedPath; }

private:
    enum Kind { MovedAside, Placed, MadeFolder };
    struct Step
    {
        Kind kind;
        QString path;
        QString aside;
        int index; // its line in the log
    };

    bool makeParents(const QString &path);
    bool fail(const QString &path);
    bool addStep(Kind kind, const QString &path, const QString &aside = QString());
    static bool undoSteps(const QVector<Step> &steps, QFile *log);
    static QVector<Step> readLog(const QString &path);

    QString m_asidePrefix;
    QFile m_log;
    QVector<Step> m_steps;
    QString m_failedPath;
    int m_counter = 0;
    bool m_open = true;
};

} // namespace KOV::Controllers
