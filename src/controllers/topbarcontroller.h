#pragma once

#include <QObject>
#include <QSharedPointer>

namespace KOV {
class Settings;
}

namespace KOV::Controllers {

class ApplicationController;
class PackageController;

/** Turns the top bar's requests into calls on the package controller, the settings and the window model. */
class TopbarController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TopbarController)
public:
    TopbarController(QSharedPointer<KOV::Settings> settings, QSharedPointer<PackageController> packageController,
                     QSharedPointer<ApplicationController> applicationController, QObject *parent = nullptr);

    QSharedPointer<KOV::Settings> settings() const { return m_settings; }
    QSharedPointer<PackageController> packageController() const { return m_packageController; }
    QSharedPointer<ApplicationController> applicationController() const { return m_applicationController; }

    void refresh();
    /** Deletes the databases and empties the settings; refused (false) while an installation runs. */
    bool reset();
    void minimize();
    void maximize();
    void restore();
    void requestExit();

private:
    QSharedPointer<PackageController> m_packageController;
    QSharedPointer<ApplicationController> m_applicationController;
    QSharedPointer<KOV::Settings> m_settings;
};

} // namespace KOV::Controllers
