#pragma once

#include <QSharedPointer>
#include <QWidget>

namespace KOV {
class Settings;
}

namespace KOV::Dialogs {

/** The "Paths" page: the X-Plane folder and the three working folders. */
class PathSettingsWidget final : public QWidget
{
    Q_OBJECT
public:
    explicit PathSettingsWidget(QSharedPointer<KOV::Settings> settings, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QSharedPointer<KOV::Settings> m_settings;
};

} // namespace KOV::Dialogs
