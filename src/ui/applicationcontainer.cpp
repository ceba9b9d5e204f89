#include "ui/applicationcontainer.h"

#include <QVBoxLayout>

#include "ui/packagecontainer.h"
#include "ui/topbar.h"

namespace KOV::Ui {

ApplicationContainer::ApplicationContainer(QSharedPointer<Controllers::ApplicationController> applicationController,
                                           QSharedPointer<Controllers::PackageController> packageController,
                                           QSharedPointer<Controllers::TopbarController> topbarController,
                                           QWidget *parent)
    : QWidget(parent)
    , m_applicationController(std::move(applicationController))
{
    setObjectName(QStringLiteral("ApplicationContainer"));
    auto *layout = new QVBoxLayout;
    layout->addWidget(new TopBar(topbarController, this));
    layout->addWidget(new PackageContainer(packageController, this));
    setLayout(layout);
}

} // namespace KOV::Ui
