#pragma once

#include <QDialog>
#include <QSharedPointer>

namespace KOV {
class Settings;
}
namespace KOV::Controllers {
class PackageController;
}

namespace KOV::Dialogs {

/** Language, X-Plane folder and working folders; nothing takes effect before Ok. */
class SettingsDialog final : public QDialog
{
    Q_OBJECT
public:
    SettingsDialog(QSharedPointer<Controllers::PackageController> packageController,
                   QSharedPointer<KOV::Settings> settings, QWidget *parent = nullptr);

    void apply();
    /** Cancel, Escape and the window's close button: the edits are dropped. */
    void reject() override;

private:
    QSharedPointer<KOV::Settings> m_settings;
    QSharedPointer<Controllers::PackageController> m_packageController;
};

} // namespace KOV::Dialogs
