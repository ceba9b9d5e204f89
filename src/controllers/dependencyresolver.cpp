#include "controllers/dependencyresolver.h"

#include <QDebug>
#include <QSet>
#include <QVersionNumber>

#include <algorithm>

#include "app/logging.h"

namespace KOV::Controllers {

using Models::Package;
using Models::PackageVersion;

DependencyResolver::DependencyResolver(VersionLookup installedVersion)
    : m_installedVersion(std::move(installedVersion))
{
}

void DependencyResolver::setPackages(const QVector<QSharedPointer<Package>> &packages)
{
    m_packages = packages;
    m_byId.clear();
    m_byId.reserve(packages.size());
    // Two packages with one id: the first in the catalogue answers, as a scan of the list would.
    for (int index = packages.size() - 1; index >= 0; --index)
        m_byId.insert(packages.at(index)->id(), index);
}

Dependency DependencyResolver::parse(const QString &entry)
{
    Dependency dependency;
    if (entry.isEmpty()) {
        qCWarning(lcCatalogue) << "Invalid dependency info";
        return dependency;
    }
    const QStringList parts = entry.split(QLatin1Char(':'));
    dependency.id = parts.first().toInt();
    dependency.minimum = parts.value(1);
    dependency.valid = true;
    return dependency;
}

QSharedPointer<PackageVersion> DependencyResolver::resolve(const QSharedPointer<Package> &package,
                                                           QString &version)
{
    const auto resolved = package->versions().at(Models::versionIndex(package, version));
    version = resolved->version;
    return resolved;
}

int DependencyResolver::compareVersions(const QString &a, const QString &b)
{
    return QVersionNumber::compare(QVersionNumber::fromString(a), QVersionNumber::fromString(b));
}

QVector<QSharedPointer<Package>> DependencyResolver::dependencies(const QSharedPointer<Package> &package,
                                                                  QString &version) const
{
    QVector<QSharedPointer<Package>> result;
    if (!package || package->versions().isEmpty())
        return result;
    QVector<int> ids;
    QStringList minimums;
    for (const QString &entry : resolve(package, version)->depends) {
        // An entry that cannot be read resolves to nothing, so the widgets refuse the installation.
        const Dependency dependency = parse(entry);
        if (!dependency.valid)
            continue;
        ids << dependency.id;
        minimums << dependency.minimum;
    }
    for (const QSharedPointer<Package> &candidate : m_packages) {
        const int position = ids.indexOf(candidate->id());
        if (position >= 0
            && compareVersions(candidate->versions().first()->version, minimums.at(position)) >= 0)
            result << candidate;
    }
    return result;
}

QVector<QSharedPointer<Package>> DependencyResolver::dependents(const QSharedPointer<Package> &package,
                                                                const QString &version) const
{
    QVector<QSharedPointer<Package>> result;
    for (const QSharedPointer<Package> &candidate : m_packages) {
        if (candidate->id() == package->id() || candidate->state() != Package::INSTALLED
            || candidate->versions().isEmpty())
            continue;
        QString installed = m_installedVersion(candidate);
        for (const QString &entry : resolve(candidate, installed)->depends) {
            const Dependency dependency = parse(entry);
            if (!dependency.valid || dependency.id != package->id())
                continue;
            if (version.isEmpty() || compareVersions(version, dependency.minimum) < 0)
                result << candidate;
            break;
        }
    }
    return result;
}

QSharedPointer<Package> DependencyResolver::toInstallFirst(const Dependency &dependency) const
{
    const QSharedPointer<Package> needed = dependency.valid ? find(dependency.id) : nullptr;
    if (!needed)
        return {};
    // One that is being uninstalled comes back once the uninstallation is done.
    if (needed->state() == Package::AVAILABLE || needed->state() == Package::UNINSTALLING)
        return needed;
    if (needed->state() == Package::INSTALLED
        && compareVersions(m_installedVersion(needed), dependency.minimum) < 0)
        return needed;
    return {};
}

QVector<QSharedPointer<Package>>
DependencyResolver::onTheirWayNeeding(int id, const QHash<int, QString> &versions) const
{
    QVector<QSharedPointer<Package>> found;
    for (const QSharedPointer<Package> &other : m_packages) {
        const Package::State state = other->state();
        if (other->id() == id || other->versions().isEmpty()
            || (state != Package::PREPARING && state != Package::DOWNLOADING && state != Package::INSTALLING))
            continue;
        QString version = versions.value(other->id());
        const QStringList depends = resolve(other, version)->depends;
        if (std::any_of(depends.cbegin(), depends.cend(),
                        [id](const QString &entry) { return parse(entry).id == id; }))
            found << other;
    }
    return found;
}

QVector<QSharedPointer<Package>> DependencyResolver::updatable() const
{
    QVector<QSharedPointer<Package>> found;
    for (const QSharedPointer<Package> &package : m_packages) {
        if (package->state() == Package::INSTALLED && package->hasUpdate())
            found << package;
    }
    return found;
}

QVector<QSharedPointer<Package>>
DependencyResolver::comingAlong(const QVector<QSharedPointer<Package>> &packages) const
{
    return comingAlong(packages, QString(), false);
}

QVector<QSharedPointer<Package>> DependencyResolver::comingAlong(const QSharedPointer<Package> &package,
                                                                 const QString &version) const
{
    return comingAlong({ package }, version, true);
}

QVector<QSharedPointer<Package>>
DependencyResolver::comingAlong(const QVector<QSharedPointer<Package>> &packages, const QString &version,
                                bool firstInVersion) const
{
    QVector<QSharedPointer<Package>> along;
    QSet<int> seen;
    for (const QSharedPointer<Package> &package : packages)
        seen.insert(package->id());
    // Breadth first, each package once: a dependency may need another; each comes in its newest version.
    QVector<QSharedPointer<Package>> pending = packages;
    for (int i = 0; i < pending.size(); ++i) {
        QString chosen = i == 0 && firstInVersion ? version : QString();
        for (const QString &entry : resolve(pending.at(i), chosen)->depends) {
            const QSharedPointer<Package> needed = toInstallFirst(parse(entry));
            if (!needed || seen.contains(needed->id()))
                continue;
            seen.insert(needed->id());
            along << needed;
            pending << needed;
        }
    }
    return along;
}

} // namespace KOV::Controllers
