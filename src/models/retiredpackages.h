#pragma once

#include <QObject>
#include <QSharedPointer>
#include <QTimer>
#include <QVector>

#include "models/package.h"

namespace KOV::Models {

/**
 * Lets go of a replaced list of packages a slice per turn of the event loop. Freeing 10,000 packages at
 * once holds the interface up for tens of milliseconds; a slice takes one or two.
 */
class RetiredPackages final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RetiredPackages)
public:
    explicit RetiredPackages(QObject *parent = nullptr);

    /** Takes `packages` to let go of later. A list still waiting is let go of at once: at most one waits,
     * so reading catalogues without a turn of the event loop in between never keeps more than two. */
    void retire(QVector<QSharedPointer<Package>> packages);
    int waiting() const { return m_packages.size() - m_next; }

    /** Packages let go of per turn of the event loop. */
    static constexpr int sliceSize = 256;

private:
    void releaseSlice();
    void releaseAll();

    QVector<QSharedPointer<Package>> m_packages;
    int m_next = 0;
    QTimer m_timer;
};

} // namespace KOV::Models
