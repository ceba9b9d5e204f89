#pragma once

#include <QSharedPointer>
#include <QWidget>

namespace KOV {
class Settings;
}

namespace KOV::Dialogs {

/** The "General" page: the interface language and whether search and filters are shown. */
class GeneralSettingsWidget final : public QWidget
{
    Q_OBJECT
public:
    explicit GeneralSettingsWidget(QSharedPointer<KOV::Settings> settings, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QSharedPointer<KOV::Settings> m_settings;
};

} // namespace KOV::Dialogs
