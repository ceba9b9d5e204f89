#include "dialogs/pathsettingswidget.h"

#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>
#include <QVBoxLayout>

#include "app/environment.h"
#include "app/settings.h"
#include "common/styledbackground.h"
#include "components/fileselector.h"

namespace KOV::Dialogs {

namespace {

QString asFolder(const QString &chosen)
{
    QString folder = QDir::toNativeSeparators(chosen);
    if (!folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    return folder;
}

} // namespace

PathSettingsWidget::PathSettingsWidget(QSharedPointer<KOV::Settings> settings, QWidget *parent)
    : QWidget(parent)
    , m_settings(std::move(settings))
{
    setObjectName(QStringLiteral("PathSettingsWidget"));
    auto *layout = new QVBoxLayout(this);
    const Settings::Configuration &current = m_settings->current();
    struct Row
    {
        QString label;
        QString value;
        Settings::Entry *target;
    };
    Settings::Configuration &edited = m_settings->edited();
    const Row rows[] = {
        { tr("X-Plane"), current.installation.value, &edited.installation },
        { tr("Cache"), current.cache.value, &edited.cache },
        { tr("Preserve"), current.preserve.value, &edited.preserve },
        { tr("Backup"), current.backup.value, &edited.backup },
    };
    for (const Row &row : rows) {
        auto *selector = new Components::FileSelector(this);
        selector->setLabel(row.label);
        selector->setValue(row.value);
        layout->addWidget(selector);
        Settings::Entry *target = row.target;
        if (target == &edited.installation) {
            connect(selector, &Components::FileSelector::valueChanged, this, [target, selector](const QString &value) {
                if (!value.isEmpty() && containsXPlaneExecutable(value)) {
                    target->value = asFolder(value);
                    return;
                }
                // The field goes back to the folder that still counts.
                selector->setValue(target->value);
                if (value.isEmpty())
                    return;
                QMessageBox::critical(
                    selector, QCoreApplication::translate("QMessageBox", "Invalid Folder"),
                    QCoreApplication::translate("QMessageBox",
                                                "Oops...this doesn't seem to be a XPlane installation folder."),
                    QMessageBox::Ok);
            });
        } else {
            connect(selector, &Components::FileSelector::valueChanged, this, [target, selector](const QString &value) {
                if (value.isEmpty()) {
                    selector->setValue(target->value);
                    return;
                }
                target->value = asFolder(value);
            });
        }
    }
    layout->addStretch();
}

void PathSettingsWidget::paintEvent(QPaintEvent *)
{
    paintStyleSheetBackground(this);
}

} // namespace KOV::Dialogs
