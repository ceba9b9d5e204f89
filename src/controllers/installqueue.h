#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QSet>
#include <QSharedPointer>
#include <QVector>

#include <atomic>
#include <functional>

#include "models/package.h"

namespace KOV::Controllers {

class DependencyResolver;

/** An archive that is downloaded and waits for its turn to be installed. */
struct PendingInstallation
{
    QSharedPointer<Models::Package> package;
    QString version;
    QString archivePath;
};

/** Downloaded archives waiting for their dependencies, installed one at a time on the thread pool. */
class InstallQueue final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(InstallQueue)
public:
    using Task = std::function<bool()>;
    /** Called on this thread when an entry starts; the task it gives runs on the pool. */
    using TaskFactory = std::function<Task(const PendingInstallation &)>;

    InstallQueue(const DependencyResolver &resolver, TaskFactory taskFactory, QObject *parent = nullptr);
    ~InstallQueue() override;

    bool isInstalling() const { return m_installing.load(); }
    bool contains(int id) const;
    /** Queues an entry unless its package is queued or installing already. */
    void enqueue(const PendingInstallation &entry);
    /** Starts the first entry whose dependencies are installed; drops those whose dependencies failed. */
    void process();

signals:
    /** Each pass reports every entry it looked at; `dropped` when a dependency is missing or failed. */
    void examined(const KOV::Controllers::PendingInstallation &entry, bool dropped);
    /** The task of an entry ended; the next pass follows right after. */
    void finished(const KOV::Controllers::PendingInstallation &entry, bool installed);

private:
    bool waitsOn(int waitingId, int targetId, QSet<int> &visited) const;
    bool isReady(const PendingInstallation &entry, bool &failed) const;
    void start(const PendingInstallation &entry);

    const DependencyResolver &m_resolver;
    TaskFactory m_taskFactory;
    QVector<PendingInstallation> m_pending;
    std::atomic<bool> m_installing { false };
    int m_installingId = -1;
    QFuture<bool> m_future;
    QFutureWatcher<bool> m_watcher;
};

} // namespace KOV::Controllers
