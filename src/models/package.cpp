#include "models/package.h"

namespace KOV::Models {

Package::Package(QObject *parent)
    : QObject(parent)
{
}

void Package::registerMetaTypes()
{
    qRegisterMetaType<Package::State>("State");
    qRegisterMetaType<QSharedPointer<Package>>();
}

void Package::setState(State state)
{
    // exchange() keeps a change and its signal together when two threads set the state.
    if (m_state.exchange(state) == state)
        return;
    emit stateChanged(state);
}

void Package::resetDownloadProgress()
{
    m_downloadTotal.store(0);
    m_downloadDone.store(0);
}

void Package::reportTotalSize(qlonglong size)
{
    m_downloadTotal.store(size);
    emit totalSize(size);
}

void Package::reportDownloadedSize(qlonglong size)
{
    m_downloadDone.store(size);
    emit downloadedSize(size);
}

int versionIndex(const QSharedPointer<Package> &package, const QString &version)
{
    if (!package || version.isEmpty())
        return 0;
    const QVector<QSharedPointer<PackageVersion>> versions = package->versions();
    for (int i = 0; i < versions.size(); ++i) {
        if (versions.at(i)->version == version)
            return i;
    }
    return 0;
}

} // namespace KOV::Models
