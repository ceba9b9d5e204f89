#include "dialogs/disksettingswidget.h"

#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

#include "app/settings.h"
#include "common/styledbackground.h"

namespace KOV::Dialogs {

DiskSettingsWidget::DiskSettingsWidget(QSharedPointer<KOV::Settings> settings, QWidget *parent)
    : QWidget(parent)
    , m_settings(std::move(settings))
{
    setObjectName(QStringLiteral("DiskSettingsWidget"));
    auto *layout = new QVBoxLayout(this);
    auto *grid = new QGridLayout;
    layout->addLayout(grid);
    layout->addStretch();
    const Settings::Configuration &current = m_settings->current();
    const QPair<QString, QString> rows[] = {
        { tr("Cache"), current.cache.value },
        { tr("Backup"), current.backup.value },
        { tr("Preserve"), current.preserve.value },
    };
    for (int row = 0; row < 3; ++row) {
        grid->addWidget(new QLabel(rows[row].first, this), row, 0);
        grid->addWidget(new QLabel(formatSize(folderSize(rows[row].second)), this), row, 1);
    }
    // Empty columns keep the two text columns at the left.
    for (int column = 2; column <= 4; ++column)
        grid->addWidget(new QWidget(this), 0, column);
}

qlonglong DiskSettingsWidget::folderSize(const QString &folder)
{
    qlonglong total = 0;
    const QDir dir(folder);
    for (const QFileInfo &file : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted))
        total += file.size();
    // Links to folders are not followed: a link that leads back up would never end.
    const QStringList folders
        = dir.entryList(QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                        QDir::Unsorted);
    for (const QString &name : folders)
        total += folderSize(folder + QDir::separator() + name);
    return total;
}

QString DiskSettingsWidget::formatSize(qlonglong bytes)
{
    return QLocale().formattedDataSize(bytes);
}

void DiskSettingsWidget::paintEvent(QPaintEvent *)
{
    paintStyleSheetBackground(this);
}

} // namespace KOV::Dialogs
