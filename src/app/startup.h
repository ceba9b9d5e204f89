#pragma once

#include <QSharedPointer>
#include <QString>
#include <QtGlobal>

class QApplication;

namespace KOV {

class Settings;
namespace Managers {
class DownloadManager;
}
namespace Controllers {
class ApplicationController;
class PackageController;
class TopbarController;
} // namespace Controllers

/** The long-lived managers; the download manager keeps the network access alive. */
struct ManagerSet
{
    QSharedPointer<Managers::DownloadManager> downloadManager;
};

ManagerSet createManagers(QSharedPointer<Settings> settings);

/** The three controllers, created in this order: the later ones need the earlier ones. */
struct ControllerSet
{
    QSharedPointer<Controllers::ApplicationController> applicationController;
    QSharedPointer<Controllers::PackageController> packageController;
    QSharedPointer<Controllers::TopbarController> topbarController;
};

ControllerSet createControllers(const ManagerSet &managers, QSharedPointer<Settings> settings);

/** The path of this run's log file in the data folder. */
QString logFilePath();

/** Appends every diagnostic message, as one plain line, to the log file. */
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);

/** Asks the user for the X-Plane folder until a valid one is chosen; empty when the user gives up. */
QString selectXPlaneFolder();

/** Registers the interface fonts and makes them the application's font. */
bool loadFonts();

/** The whole start-up, the event loop and the way out, on an application object made by the caller. */
int runApplication(QApplication &application);

} // namespace KOV
