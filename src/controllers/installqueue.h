#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QSet>
#include <QSharedPointer>
#include <QVector>

#include <atomic>
#include <functional>

#include "controllers/packageinstaller.h"
#include "models/package.h"

namespace KOV::Controllers {

class DependencyResolver;

/** An archive that is downloaded and waits for its turn to be installed, or a package to uninstall. */
struct PendingInstallation
{
    QSharedPointer<Models::Package> package;
    QString version;
    QString archivePath;
    bool uninstall = false;
    /** The user agreed to overwrite files of other packages. */
    bool overwriteOwned = false;
};

/**
 * Downloaded archives waiting for their dependencies and packages to uninstall: one change to the X-Plane
 * folder at a time, on the thread pool, uninstallations first.
 */
class InstallQueue final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(InstallQueue)
public:
    using Task = std::function<InstallOutcome()>;
    /** Called on this thread when an entry starts; the task it gives runs on the pool. */
    using TaskFactory = std::function<Task(const PendingInstallation &)>;

    InstallQueue(const DependencyResolver &resolver, TaskFactory taskFactory, QObject *parent = nullptr);
    ~InstallQueue() override;

    bool isInstalling() const { return m_installing.load(); }
    bool contains(int id) const;
    /** Queues an entry unless its package is queued or installing already. */
    void enqueue(const PendingInstallation &entry);
    /** Queues an uninstallation; it goes before every installation that waits. */
    void enqueueUninstall(const PendingInstallation &entry);
    /** Starts the first entry whose dependencies are installed; drops those whose dependencies failed. */
    void process();

signals:
    /** Each pass reports every entry it looked at; `dropped` when a dependency is missing or failed. */
    void examined(const KOV::Controllers::PendingInstallation &entry, bool dropped);
    /** The task of an entry ended; the next pass follows right after. */
    void finished(const KOV::Controllers::PendingInstallation &entry,
                  const KOV::Controllers::InstallOutcome &outcome);

private:
    bool waitsOn(int waitingId, int targetId, QSet<int> &visited) const;
    bool isReady(const PendingInstallation &entry, bool &failed) const;
    void start(const PendingInstallation &entry);

    const DependencyResolver &m_resolver;
    TaskFactory m_taskFactory;
    QVector<PendingInstallation> m_pending;
    std::atomic<bool> m_installing { false };
    int m_installingId = -1;
    QFuture<InstallOutcome> m_future;
    QFutureWatcher<InstallOutcome> m_watcher;
};

} // namespace KOV::Controllers
