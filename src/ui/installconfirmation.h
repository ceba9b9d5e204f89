#pragma once

#include <QCoreApplication>
#include <QSharedPointer>

class QWidget;

#include "models/package.h"
namespace KOV::Controllers {
class PackageController;
}

namespace KOV::Ui {

/** The questions asked before a package is installed in its newest version, shared by the tile and the detail
 * page. */
class InstallConfirmation
{
    Q_DECLARE_TR_FUNCTIONS(KOV::Ui::InstallConfirmation)
public:
    /** Change log, dependency check and confirmation, then the installation; every box parented to `parent`.
     */
    static void run(Controllers::PackageController &controller,
                    const QSharedPointer<Models::Package> &package, QWidget *parent);

    /** The action button of a tile or the detail page: cancel a transfer, retry a failure, else run(). */
    static void act(Controllers::PackageController &controller, const QSharedPointer<Models::Package> &package,
                    QWidget *parent);

    /**
     * Checks that every dependency of `version` can be installed and, when some will be installed or updated
     * with it, names them with their versions and asks to go on. False when the installation must not start.
     */
    static bool confirmDependencies(Controllers::PackageController &controller,
                                    const QSharedPointer<Models::Package> &package, const QString &version,
                                    QWidget *parent);
    /** For an installed package: its change log up to `version`, and "Update X from 1.0 to 2.0?". */
    static bool confirmUpdate(Controllers::PackageController &controller,
                              const QSharedPointer<Models::Package> &package, const QString &version,
                              QWidget *parent);

    /**
     * One question for every package with an update (installed and new version, what comes along, the
     * download size where the catalogue gives it); Yes queues them all.
     */
    static void runUpdateAll(Controllers::PackageController &controller, QWidget *parent);

    /**
     * The box that reports a failed install, download or dependency; other states show nothing. It opens
     * from the event loop, never inside the network or worker callback that changed the state, and only
     * while `parent` is visible and the package still in `state`.
     */
    static void reportFailure(const QSharedPointer<Models::Package> &package, Models::Package::State state,
                              QWidget *parent);

private:
    static void showFailure(const Models::Package &package, Models::Package::State state, QWidget *parent);
};

} // namespace KOV::Ui
