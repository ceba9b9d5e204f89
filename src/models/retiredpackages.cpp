#include "models/retiredpackages.h"

namespace KOV::Models {

RetiredPackages::RetiredPackages(QObject *parent)
    : QObject(parent)
{
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &RetiredPackages::releaseSlice);
}

void RetiredPackages::retire(QVector<QSharedPointer<Package>> packages)
{
    releaseAll();
    if (packages.isEmpty())
        return;
    m_packages = std::move(packages);
    m_timer.start();
}

void RetiredPackages::releaseAll()
{
    m_timer.stop();
    m_packages.clear();
    m_next = 0;
}

void RetiredPackages::releaseSlice()
{
    const int end = qMin(m_next + sliceSize, int(m_packages.size()));
    // The vector keeps its size until the last slice, so no package moves while the others wait.
    for (; m_next < end; ++m_next)
        m_packages[m_next].reset();
    if (m_next == m_packages.size())
        releaseAll();
}

} // namespace KOV::Models
