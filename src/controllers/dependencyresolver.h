#pragma once

#include <QHash>
#include <QSharedPointer>
#include <QString>
#include <QVector>

#include <functional>

#include "models/package.h"

namespace KOV::Controllers {

/** A dependency entry "id" or "id:minimum version". */
struct Dependency
{
    int id = 0;
    QString minimum;
    bool valid = false;
};

/** Reads dependency entries and answers which packages a version needs and which installed ones need it. */
class DependencyResolver final
{
public:
    using VersionLookup = std::function<QString(const QSharedPointer<Models::Package> &)>;

    /** `installedVersion` tells the version installed of a package, as the records say. */
    explicit DependencyResolver(VersionLookup installedVersion);

    void setPackages(const QVector<QSharedPointer<Models::Package>> &packages);
    QSharedPointer<Models::Package> find(int id) const
    {
        const auto index = m_byId.constFind(id);
        return index == m_byId.constEnd() ? QSharedPointer<Models::Package>() : m_packages.at(*index);
    }

    static Dependency parse(const QString &entry);
    /** The offered version that `version` selects (the newest for an empty or unknown one); `version` is set
     * to it. */
    static QSharedPointer<Models::PackageVersion> resolve(const QSharedPointer<Models::Package> &package,
                                                          QString &version);
    static int compareVersions(const QString &a, const QString &b);

    /** The packages of the catalogue that satisfy the version's entries; an unmet entry is simply missing. */
    QVector<QSharedPointer<Models::Package>> dependencies(const QSharedPointer<Models::Package> &package,
                                                          QString &version) const;
    /** Installed packages whose installed version needs `package` (in more than `version`, when given). */
    QVector<QSharedPointer<Models::Package>> dependents(const QSharedPointer<Models::Package> &package,
                                                        const QString &version) const;
    /** The package an entry names when it must be installed or upgraded first, as things stand now; else
     * null. */
    QSharedPointer<Models::Package> toInstallFirst(const Dependency &dependency) const;
    /**
     * Packages preparing, downloading or waiting to be installed whose version on its way (from `versions`,
     * else the newest) needs `id`.
     */
    QVector<QSharedPointer<Models::Package>> onTheirWayNeeding(int id,
                                                               const QHash<int, QString> &versions) const;
    /** Installed packages with a newer version in the catalogue. */
    QVector<QSharedPointer<Models::Package>> updatable() const;
    /** What installing the newest versions of `packages` brings along: dependencies to install or upgrade. */
    QVector<QSharedPointer<Models::Package>>
    comingAlong(const QVector<QSharedPointer<Models::Package>> &packages) const;
    /** The same for one version of one package. */
    QVector<QSharedPointer<Models::Package>> comingAlong(const QSharedPointer<Models::Package> &package,
                                                         const QString &version) const;

private:
    QVector<QSharedPointer<Models::Package>> comingAlong(const QVector<QSharedPointer<Models::Package>> &packages,
                                                         const QString &version, bool firstInVersion) const;
    VersionLookup m_installedVersion;
    QVector<QSharedPointer<Models::Package>> m_packages;
    // Positions in m_packages, not shared pointers: building and dropping the index of a large list then
    // counts no references on its packages.
    QHash<int, int> m_byId;
};

} // namespace KOV::Controllers
