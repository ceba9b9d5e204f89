#pragma once

#include <QSharedPointer>
#include <QWidget>

namespace KOV::Controllers {
class ApplicationController;
class PackageController;
class TopbarController;
} // namespace KOV::Controllers

namespace KOV::Ui {

/** What fills the main window: the top bar above the package pages. */
class ApplicationContainer final : public QWidget
{
    Q_OBJECT
public:
    ApplicationContainer(QSharedPointer<Controllers::ApplicationController> applicationController,
                         QSharedPointer<Controllers::PackageController> packageController,
                         QSharedPointer<Controllers::TopbarController> topbarController, QWidget *parent = nullptr);

private:
    QSharedPointer<Controllers::ApplicationController> m_applicationController;
};

} // namespace KOV::Ui
