#include "dialogs/settingsdialog.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/settings.h"
#include "common/qtawesome.h"
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

    // Both end the program and delete the databases: never under a running installation.
    if ((pathChange || languageChange) && m_packageController->isInstalling()) {
        QMessageBox::information(this, tr("Installation in progress"),
                                 tr("An installation is in progress.\n\nApply this change after it has finished."),
                                 QMessageBox::Ok);
        return;
    }

    bool pathChanged = false;
    if (pathChange) {
        if (QMessageBox::warning(this, QString(),
                                 tr("X-Plane path has been changed\n\nProceeding will reset cache & databases. Continue ?"),
                                 QMessageBox::Yes | QMessageBox::No)
            != QMessageBox::Yes)
            return;
        m_packageController->resetDatabase();
        pathChanged = true;
    }

    if (!languageChange) {
        m_settings->commit();
        if (!pathChanged) {
            accept();
            return;
        }
    } else {
        if (QMessageBox::warning(this, QString(),
                                 tr("Language has been changed\n\nApplication restart neeeded. Continue ?"),
                                 QMessageBox::Yes | QMessageBox::No)
            != QMessageBox::Yes)
            return;
        m_packageController->resetDatabase();
        m_settings->commit();
    }

    QMessageBox::information(this, QString(),
                             tr("Application will now close. Restart the application for new setting to take effect."),
                             QMessageBox::Ok);
    QCoreApplication::quit();
    accept();
}

} // namespace KOV::Dialogs
