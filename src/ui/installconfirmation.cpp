#include "ui/installconfirmation.h"

#include <QMessageBox>
#include <QTimer>

#include "controllers/packagecontroller.h"
#include "dialogs/disksettingswidget.h"
#include "models/package.h"
#include "ui/messagebox.h"

namespace KOV::Ui {

void InstallConfirmation::run(Controllers::PackageController &controller,
                              const QSharedPointer<Models::Package> &package, QWidget *parent)
{
    if (package->versions().isEmpty())
        return;
    const QString newest = package->versions().first()->version;
    if (!confirmUpdate(controller, package, newest, parent) || !confirmDependencies(controller, package, newest, parent))
        return;
    QString version;
    controller.installPackage(package, version);
}

bool InstallConfirmation::confirmUpdate(Controllers::PackageController &controller,
                                        const QSharedPointer<Models::Package> &package, const QString &version,
                                        QWidget *parent)
{
    // The change log of what is newer than the installed version, with the question of what changes.
    const QString log = controller.changeLogHtml(package, version);
    if (log.isEmpty())
        return true;
    return MessageBox::askAboutHtml(parent, tr("Change Log"), log,
                                    tr("Update %1 from %2 to %3?")
                                        .arg(package->name(), controller.shownVersion(package), version));
}

void InstallConfirmation::act(Controllers::PackageController &controller,
                              const QSharedPointer<Models::Package> &package, QWidget *parent)
{
    switch (package->state()) {
    case Models::Package::PREPARING:
    case Models::Package::DOWNLOADING:
        controller.cancel(package);
        break;
    case Models::Package::INSTALL_ERROR:
    case Models::Package::DOWNLOAD_ERROR:
    case Models::Package::DEPENDENCY_ERROR:
        controller.retry(package);
        break;
    default:
        run(controller, package, parent);
        break;
    }
}

bool InstallConfirmation::confirmDependencies(Controllers::PackageController &controller,
                                              const QSharedPointer<Models::Package> &package,
                                              const QString &version, QWidget *parent)
{
    // A package without versions has nothing to depend on, and nothing to install either.
    if (package->versions().isEmpty())
        return false;
    const QStringList needed = package->versions().at(Models::versionIndex(package, version))->depends;
    if (needed.isEmpty())
        return true;
    QString resolvedVersion = version;
    const QVector<QSharedPointer<Models::Package>> resolved = controller.dependencies(package, resolvedVersion);
    if (resolved.size() != needed.size()) {
        MessageBox::tell(parent, QMessageBox::Critical, tr("Dependencies Error"),
                         tr("This package cannot be installed.\n\nOne or more Dependencies for this package "
                            "are not available to install"));
        return false;
    }
    // Only what will be installed or updated is asked about; what is there already comes along silently.
    const QVector<QSharedPointer<Models::Package>> along = controller.comingAlong(package, version);
    if (along.isEmpty())
        return true;
    QString text = tr("This package is dependent on following packages and will be installed if not already "
                      "installed or upgraded if outdated along with this package\n\n");
    for (const QSharedPointer<Models::Package> &dependency : along) {
        const QString newest = dependency->versions().first()->version;
        const QString installed = controller.shownVersion(dependency);
        text += installed.isEmpty() ? tr("%1 %2").arg(dependency->name(), newest)
                                    : tr("%1 %2 (update from %3)").arg(dependency->name(), newest, installed);
        text += QLatin1Char('\n');
    }
    text += tr("\nContinue?");
    return MessageBox::ask(parent, QMessageBox::Information, tr("Install Package"), text);
}

void InstallConfirmation::runUpdateAll(Controllers::PackageController &controller, QWidget *parent)
{
    const QVector<QSharedPointer<Models::Package>> updates = controller.updatable();
    if (updates.isEmpty())
        return;
    const QVector<QSharedPointer<Models::Package>> along = controller.comingAlong(updates);
    qint64 size = 0;
    bool sizeKnown = true;
    QString text = tr("These packages will be updated:") + QStringLiteral("\n\n");
    for (const QSharedPointer<Models::Package> &package : updates + along) {
        const Models::PackageVersion &newest = *package->versions().first();
        size += newest.size;
        sizeKnown = sizeKnown && newest.size > 0;
    }
    for (const QSharedPointer<Models::Package> &package : updates)
        text += QStringLiteral("%1: %2 \u2192 %3\n")
                    .arg(package->name(), controller.shownVersion(package),
                         package->versions().first()->version);
    if (!along.isEmpty()) {
        text += QLatin1Char('\n') + tr("These packages come with them:") + QStringLiteral("\n\n");
        for (const QSharedPointer<Models::Package> &package : along)
            text += package->name() + QLatin1Char('\n');
    }
    if (size > 0)
        text += QLatin1Char('\n')
                + (sizeKnown ? tr("Download size: %1") : tr("Download size: at least %1"))
                      .arg(Dialogs::DiskSettingsWidget::formatSize(size))
                + QLatin1Char('\n');
    text += tr("\nContinue?");
    if (!MessageBox::ask(parent, QMessageBox::Question, tr("Update all"), text))
        return;
    // The usual path: dependencies first, one installation at a time.
    for (const QSharedPointer<Models::Package> &package : updates) {
        QString newest;
        controller.installPackage(package, newest);
    }
}

} // namespace KOV::Ui

namespace KOV::Ui {

void InstallConfirmation::reportFailure(const QSharedPointer<Models::Package> &package,
                                        Models::Package::State state, QWidget *parent)
{
    if (state != Models::Package::INSTALL_ERROR && state != Models::Package::DOWNLOAD_ERROR
        && state != Models::Package::DEPENDENCY_ERROR)
        return;
    // The box's own event loop would otherwise run inside the handler of a reply or a task's result.
    QTimer::singleShot(0, parent, [package, state, parent] {
        if (parent->isVisible() && package->state() == state)
            showFailure(*package, state, parent);
    });
}

void InstallConfirmation::showFailure(const Models::Package &package, Models::Package::State state,
                                      QWidget *parent)
{
    const QString name = package.name();
    // The reason names the fault on this machine (a full disk, a damaged archive) when there is one.
    const QString reason
        = package.failureReason().isEmpty() ? QString() : QStringLiteral("\n\n") + package.failureReason();
    switch (state) {
    case Models::Package::INSTALL_ERROR:
        MessageBox::tell(parent, QMessageBox::Critical, tr("Install Error"),
                         tr("Installation failed for package : ") + name + reason);
        break;
    case Models::Package::DOWNLOAD_ERROR:
        MessageBox::tell(parent, QMessageBox::Critical, tr("Download Error"),
                         tr("Downloading failed for package : ") + name + reason);
        break;
    case Models::Package::DEPENDENCY_ERROR:
        MessageBox::tell(parent, QMessageBox::Critical, tr("Dependency Error"),
                         tr("Unable to install one or more dependency for package : ") + name);
        break;
    default:
        break;
    }
}

} // namespace KOV::Ui
