#include "ui/applicationwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QMessageBox>
#include <QScreen>

#include "controllers/applicationcontroller.h"
#include "controllers/packagecontroller.h"
#include "managers/downloadmanager.h"
#include "models/package.h"
#include "ui/applicationcontainer.h"
#include "ui/messagebox.h"

namespace KOV::Ui {

using Controllers::ApplicationController;

ApplicationWindow::ApplicationWindow(QSharedPointer<ApplicationController> applicationController,
                                     QSharedPointer<Controllers::PackageController> packageController,
                                     QSharedPointer<Controllers::TopbarController> topbarController,
                                     QWidget *parent)
    : QMainWindow(parent)
    , m_applicationController(std::move(applicationController))
    , m_packageController(std::move(packageController))
{
    setObjectName(QStringLiteral("ApplicationWindow"));
    setWindowFlag(Qt::FramelessWindowHint);
    // Before the container loads the catalogue: the database is opened then.
    connect(m_packageController.data(), &Controllers::PackageController::databaseRebuilt, this,
            &ApplicationWindow::reportDatabaseRebuilt, Qt::QueuedConnection);
    connect(m_packageController.data(), &Controllers::PackageController::databaseUnavailable, this,
            &ApplicationWindow::reportDatabaseUnavailable, Qt::QueuedConnection);
    setCentralWidget(
        new ApplicationContainer(m_applicationController, m_packageController, topbarController, this));

    ApplicationController *controller = m_applicationController.data();
    connect(controller, &ApplicationController::styleChanged, this, &ApplicationWindow::onStyleChanged);
    connect(controller, &ApplicationController::languageChanged, this, &ApplicationWindow::onLanguageChanged);
    connect(controller, &ApplicationController::geometryChanged, this, &ApplicationWindow::onGeometryChanged);
    connect(controller, &ApplicationController::stateChanged, this, &ApplicationWindow::onStateChanged);
    connect(controller, &ApplicationController::exitRequest, this, &QWidget::close);
    controller->initialize(QGuiApplication::primaryScreen()->availableGeometry().size());
    connect(m_packageController.data(), &Controllers::PackageController::uninstallFailed, this,
            &ApplicationWindow::reportUninstallFailure, Qt::QueuedConnection);
    // Queued: the question is not asked inside the completion handler of the installation.
    // The user is told in the task bar when an installation ends behind another window.
    connect(m_packageController.data(), &Controllers::PackageController::changeEnded, this, [this] {
        if (!isActiveWindow())
            QApplication::alert(this);
    });
    connect(m_packageController.data(), &Controllers::PackageController::conflictsFound, this,
            &ApplicationWindow::askAboutConflicts, Qt::QueuedConnection);
}

void ApplicationWindow::askAboutConflicts(const QSharedPointer<Models::Package> &package,
                                          const QString &owners, const QStringList &files)
{
    QMessageBox box(QMessageBox::Question, package->name(),
                    tr("These files belong to %1. Overwrite them?").arg(owners),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    box.setDetailedText(files.join(QLatin1Char('\n')));
    m_packageController->resolveConflicts(package, box.exec() == QMessageBox::Yes);
}

void ApplicationWindow::reportDatabaseRebuilt(const QString &brokenFile)
{
    QMessageBox::warning(this, tr("Package records rebuilt"),
                         tr("The record of installed packages could not be read. It was rebuilt from the "
                            "X-Plane folder; the unreadable file was kept as %1.")
                             .arg(QDir::toNativeSeparators(brokenFile)),
                         QMessageBox::Ok);
}

void ApplicationWindow::reportDatabaseUnavailable(bool busy, const QString &file, const QString &detail)
{
    if (m_databaseReported)
        return;
    m_databaseReported = true;
    const QString path = QDir::toNativeSeparators(file);
    // Without its records the program would show installed packages as not installed: it stops instead.
    const QString text
        = busy ? tr("The record of installed packages, %1, is in use by another program. Close that program "
                    "and start KovVazuv again; nothing was changed.")
                     .arg(path)
               : tr("The record of installed packages, %1, cannot be used: %2. Nothing was changed.")
                     .arg(path, detail);
    QMessageBox::critical(this, tr("Package records unavailable"), text, QMessageBox::Close);
    close();
}

void ApplicationWindow::reportUninstallFailure(const QSharedPointer<Models::Package> &package,
                                               const QStringList &leftovers)
{
    QString text = tr("%1 could not be uninstalled; nothing was removed.").arg(package->name());
    if (!package->failureReason().isEmpty())
        text += QLatin1Char(' ') + package->failureReason();
    if (!leftovers.isEmpty())
        text += QStringLiteral("\n\n") + tr("These files could not be removed:") + QLatin1Char('\n')
                + leftovers.join(QLatin1Char('\n'));
    MessageBox::tell(this, QMessageBox::Critical, tr("Uninstall Error"), text);
}

void ApplicationWindow::onStyleChanged(const QString &style)
{
    qApp->setStyleSheet(style);
}

void ApplicationWindow::onLanguageChanged()
{
}

void ApplicationWindow::onGeometryChanged()
{
    const ApplicationController &controller = *m_applicationController;
    if (controller.state() == ApplicationController::MAXIMIZED)
        return;
    setGeometry(controller.x(), controller.y(), controller.width(), controller.height());
}

void ApplicationWindow::onStateChanged()
{
    switch (m_applicationController->state()) {
    case ApplicationController::NORMAL:
        setWindowState(Qt::WindowNoState);
        break;
    case ApplicationController::MAXIMIZED:
        setWindowState(Qt::WindowMaximized);
        break;
    case ApplicationController::MINIMIZED:
        setWindowState(Qt::WindowMinimized);
        break;
    case ApplicationController::FULLSCREEN:
        setWindowState(Qt::WindowFullScreen);
        break;
    }
}

void ApplicationWindow::closeEvent(QCloseEvent *event)
{
    if (m_packageController->isInstalling()) {
        QMessageBox::warning(
            this, tr("Installation in progress"),
            tr("There is a installation in progress.\n\nTry closing the application after the "
               "installation is completed"),
            QMessageBox::Ok);
        event->ignore();
        return;
    }
    // Partial archives stay in the cache and continue at the next start.
    if (m_packageController->downloadManager()->hasRunningDownloads()
        && QMessageBox::question(this, tr("Downloads running"),
                                 tr("Downloads are still running. Quit anyway?"),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
               != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

} // namespace KOV::Ui
