#include "dialogs/settingsdialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/settings.h"
#include "common/qtawesome.h"
#include "controllers/installpaths.h"
#include "controllers/packagecontroller.h"
#include "dialogs/disksettingswidget.h"
#include "dialogs/generalsettingswidget.h"
#include "dialogs/pathsettingswidget.h"

namespace KOV::Dialogs {

SettingsDialog::SettingsDialog(QSharedPointer<Controllers::PackageController> packageController,
                               QSharedPointer<KOV::Settings> settings, QWidget *parent)
    : QDialog(parent)
    , m_settings(std::move(settings))
    , m_packageController(std::move(packageController))
{
    setObjectName(QStringLiteral("SettingsDialog"));
    setWindowTitle(tr("Settings"));
    setMinimumWidth(512);
    auto *layout = new QVBoxLayout(this);
    auto *tabs = new QTabWidget(this);
    tabs->setMovable(false);
    tabs->setTabsClosable(false);
    layout->addWidget(tabs);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    auto *ok = new QPushButton(tr("Ok"), this);
    ok->setCursor(Qt::PointingHandCursor);
    ok->setIcon(sharedIcons()->icon(0xF00C, darkIconOptions()));
    auto *cancel = new QPushButton(tr("Cancel"), this);
    cancel->setCursor(Qt::PointingHandCursor);
    cancel->setIcon(sharedIcons()->icon(0xF00D, darkIconOptions()));
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    tabs->addTab(new GeneralSettingsWidget(m_settings, tabs), tr("General"));
    tabs->addTab(new PathSettingsWidget(m_settings, tabs), tr("Paths"));
    tabs->addTab(new DiskSettingsWidget(m_settings, tabs), tr("Disk Usage"));

    connect(ok, &QPushButton::clicked, this, &SettingsDialog::apply);
    connect(cancel, &QPushButton::clicked, this, &SettingsDialog::reject);
}

void SettingsDialog::reject()
{
    m_settings->revert();
    QDialog::reject();
}

void SettingsDialog::apply()
{
    const Settings::Configuration &current = m_settings->current();
    const Settings::Configuration &edited = m_settings->edited();
    const bool pathChange = current.installation.value != edited.installation.value;
    const bool languageChange = current.language.value != edited.language.value;
    const bool savedFilesMove
        = current.preserve.value != edited.preserve.value || current.backup.value != edited.backup.value;

    // These end the program, delete the databases or move saved files: never under a running installation.
    if ((pathChange || languageChange || savedFilesMove) && m_packageController->isInstalling()) {
        QMessageBox::information(
            this, tr("Installation in progress"),
            tr("An installation is in progress.\n\nApply this change after it has finished."),
            QMessageBox::Ok);
        return;
    }

    // Every question first: the databases go only on the path that really quits.
    if (pathChange
        && QMessageBox::warning(
               this, QString(),
               tr("X-Plane path has been changed\n\nProceeding will reset cache & databases. Continue ?"),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
               != QMessageBox::Yes)
        return;
    // A new X-Plane folder resets everything anyway; a new language only the installed-package rows.
    const QString languageQuestion
        = tr("Language has been changed\n\nApplication restart neeeded. Continue ?")
          + (pathChange ? QString()
                        : QStringLiteral("\n\n")
                              + tr("The record of installed packages is rebuilt from their version files at the "
                                   "next start; what is known of their files and of unfinished downloads is "
                                   "kept."));
    if (languageChange
        && QMessageBox::warning(this, QString(), languageQuestion, QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::No)
               != QMessageBox::Yes)
        return;

    // The saved originals follow their folder, or the folder does not change.
    const QPair<QString, QString> moves[] = { { current.preserve.value, edited.preserve.value },
                                              { current.backup.value, edited.backup.value } };
    for (const auto &move : moves) {
        if (move.first == move.second || Controllers::moveFolderContents(move.first, move.second))
            continue;
        QMessageBox::critical(
            this, tr("Folder not changed"),
            tr("The saved files in %1 could not be moved to %2. The folder was not changed.")
                .arg(QDir::toNativeSeparators(move.first), QDir::toNativeSeparators(move.second)),
            QMessageBox::Ok);
        return;
    }

    if (!pathChange && !languageChange) {
        m_settings->commit();
        accept();
        return;
    }
    if (pathChange)
        m_packageController->resetDatabase();
    else
        m_packageController->resetInstalledRecords();
    m_settings->commit();
    QMessageBox::information(
        this, QString(),
        tr("Application will now close. Restart the application for new setting to take effect."),
        QMessageBox::Ok);
    QCoreApplication::quit();
    accept();
}

} // namespace KOV::Dialogs
