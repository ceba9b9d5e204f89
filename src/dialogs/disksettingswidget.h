#pragma once

#include <QSharedPointer>
#include <QWidget>

namespace KOV {
class Settings;
}

namespace KOV::Dialogs {

/** The "Disk Usage" page: how much the cache, backup and preserve folders hold. */
class DiskSettingsWidget final : public QWidget
{
    Q_OBJECT
public:
    explicit DiskSettingsWidget(QSharedPointer<KOV::Settings> settings, QWidget *parent = nullptr);

    static qlonglong folderSize(const QString &folder);
    static QString formatSize(qlonglong bytes);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QSharedPointer<KOV::Settings> m_settings;
};

} // namespace KOV::Dialogs
