#include "controllers/topbarcontroller.h"

#include "app/settings.h"
#include "controllers/applicationcontroller.h"
#include "controllers/packagecontroller.h"

namespace KOV::Controllers {

TopbarController::TopbarController(QSharedPointer<KOV::Settings> settings,
                                   QSharedPointer<PackageController> packageController,
                                   QSharedPointer<ApplicationController> applicationController, QObject *parent)
    : QObject(parent)
    , m_packageController(std::move(packageController))
    , m_applicationController(std::move(applicationController))
    , m_settings(std::move(settings))
{
}

void TopbarController::refresh()
{
    m_packageController->loadCatalogue();
}

bool TopbarController::reset()
{
    // The installation task writes into what the reset would delete.
    if (m_packageController->isInstalling())
        return false;
    m_packageController->resetDatabase();
    m_settings->reset();
    return true;
}

void TopbarController::minimize()
{
    m_applicationController->setState(ApplicationController::MINIMIZED);
}

void TopbarController::maximize()
{
    m_applicationController->setState(ApplicationController::MAXIMIZED);
}

void TopbarController::restore()
{
    m_applicationController->setState(ApplicationController::NORMAL);
}

void TopbarController::requestExit()
{
    emit m_applicationController->exitRequest();
}

} // namespace KOV::Controllers
