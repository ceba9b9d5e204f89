#include "controllers/installqueue.h"

#include <QtConcurrent>

#include <algorithm>

#include "controllers/dependencyresolver.h"

namespace KOV::Controllers {

using Models::Package;

namespace {

bool isFailed(Package::State state)
{
    return state == Package::INSTALL_ERROR || state == Package::DOWNLOAD_ERROR
           || state == Package::DEPENDENCY_ERROR;
}

} // namespace

InstallQueue::InstallQueue(const DependencyResolver &resolver, TaskFactory taskFactory, QObject *parent)
    : QObject(parent)
    , m_resolver(resolver)
    , m_taskFactory(std::move(taskFactory))
{
}

InstallQueue::~InstallQueue()
{
    // The task works on the X-Plane folder and the package; it must end before its owners do.
    m_future.waitForFinished();
}

bool InstallQueue::contains(int id) const
{
    if (m_installing && m_installingId == id)
        return true;
    return std::any_of(m_pending.cbegin(), m_pending.cend(),
                       [id](const PendingInstallation &entry) { return entry.package->id() == id; });
}

void InstallQueue::enqueue(const PendingInstallation &entry)
{
    // A download reached through two package objects (a catalogue reload in between) is queued once.
    if (!contains(entry.package->id()))
        m_pending.append(entry);
}

void InstallQueue::enqueueUninstall(const PendingInstallation &entry)
{
    if (contains(entry.package->id()))
        return;
    // After the uninstallations queued before it: dependents are queued first and go first.
    const auto firstInstall
        = std::find_if(m_pending.begin(), m_pending.end(),
                       [](const PendingInstallation &pending) { return !pending.uninstall; });
    PendingInstallation uninstall = entry;
    uninstall.uninstall = true;
    m_pending.insert(firstInstall, uninstall);
}

bool InstallQueue::waitsOn(int waitingId, int targetId, QSet<int> &visited) const
{
    if (visited.contains(waitingId))
        return false;
    visited.insert(waitingId);
    for (const PendingInstallation &entry : m_pending) {
        if (entry.package->id() != waitingId || entry.uninstall)
            continue;
        QString version = entry.version;
        for (const QString &text : DependencyResolver::resolve(entry.package, version)->depends) {
            const Dependency dependency = DependencyResolver::parse(text);
            if (dependency.valid && (dependency.id == targetId || waitsOn(dependency.id, targetId, visited)))
                return true;
        }
    }
    return false;
}

bool InstallQueue::isReady(const PendingInstallation &entry, bool &failed) const
{
    if (entry.uninstall)
        return true;
    QString version = entry.version;
    bool ready = true;
    for (const QString &text : DependencyResolver::resolve(entry.package, version)->depends) {
        const Dependency dependency = DependencyResolver::parse(text);
        const QSharedPointer<Package> needed = dependency.valid ? m_resolver.find(dependency.id) : nullptr;
        if (!needed || isFailed(needed->state())) {
            failed = true;
            return false;
        }
        if (needed->state() == Package::INSTALLED)
            continue;
        // Uninstalled after this entry was asked for, and nothing brings it back.
        if (needed->state() == Package::AVAILABLE && !contains(needed->id())) {
            failed = true;
            return false;
        }
        // Two queued packages that need each other: the first in the queue goes first.
        QSet<int> visited;
        if (!(contains(needed->id()) && waitsOn(needed->id(), entry.package->id(), visited)))
            ready = false;
    }
    return ready;
}

void InstallQueue::process()
{
    // A pass that drops an entry looks again, so that a chain of waiting entries goes at once.
    bool dropped = true;
    while (dropped) {
        dropped = false;
        if (m_installing || m_pending.isEmpty())
            return;
        for (int i = 0; i < m_pending.size();) {
            const PendingInstallation entry = m_pending.at(i);
            bool failed = false;
            if (isReady(entry, failed)) {
                m_pending.removeAt(i);
                start(entry);
                return;
            }
            const bool drop
                = !entry.uninstall && (failed || entry.package->state() == Package::DEPENDENCY_ERROR);
            if (drop) {
                m_pending.removeAt(i);
                dropped = true;
            } else {
                ++i;
            }
            emit examined(entry, drop);
        }
    }
}

void InstallQueue::start(const PendingInstallation &entry)
{
    // Raised here and lowered after the completion handler: no second task can slip in between.
    m_installing = true;
    m_installingId = entry.package->id();
    m_watcher.disconnect();
    connect(&m_watcher, &QFutureWatcher<InstallOutcome>::finished, this, [this, entry] {
        emit finished(entry, m_future.result());
        m_installingId = -1;
        m_installing = false;
        process();
    });
    m_future = QtConcurrent::run(m_taskFactory(entry));
    m_watcher.setFuture(m_future);
}

} // namespace KOV::Controllers
