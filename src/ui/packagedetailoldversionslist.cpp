#include "ui/packagedetailoldversionslist.h"

#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QVBoxLayout>

#include "common/qtawesome.h"
#include "controllers/packagecontroller.h"
#include "ui/installconfirmation.h"
#include "ui/messagebox.h"
#include "ui/packagedetailoldversionwidget.h"

namespace KOV::Ui {

using Models::Package;

PackageDetailOldVersionsList::PackageDetailOldVersionsList(QSharedPointer<Controllers::PackageController> controller,
                                                           QWidget *parent)
    : QWidget(parent)
    , m_controller(std::move(controller))
    , m_list(new QListWidget(this))
    , m_none(new QLabel(tr("No older versions."), this))
{
    auto *layout = new QVBoxLayout(this);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_none->setObjectName(QStringLiteral("NoOlderVersions"));
    m_none->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    layout->addWidget(m_none);
    layout->addWidget(m_list);
}

void PackageDetailOldVersionsList::setPackage(const QSharedPointer<Package> &package)
{
    if (m_package)
        disconnect(m_package.data(), &Package::stateChanged, this, nullptr);
    m_package = package;
    if (m_package)
        connect(m_package.data(), &Package::stateChanged, this, &PackageDetailOldVersionsList::onStateChanged);
    rebuild();
}

void PackageDetailOldVersionsList::onStateChanged(Package::State state)
{
    if (state == Package::PREPARING || state == Package::DOWNLOADING || state == Package::INSTALLING
        || state == Package::UNINSTALLING) {
        for (int row = 0; row < m_list->count(); ++row) {
            if (auto *widget = qobject_cast<PackageDetailOldVersionWidget *>(m_list->itemWidget(m_list->item(row))))
                widget->setButtonDisabled(true);
        }
        return;
    }
    rebuild();
}

void PackageDetailOldVersionsList::rebuild()
{
    for (int row = 0; row < m_list->count(); ++row)
        delete m_list->itemWidget(m_list->item(row));
    m_list->clear();
    // An empty tab would look broken; it says there is nothing older.
    const bool none = !m_package || m_package->versions().size() < 2;
    m_none->setVisible(none);
    m_list->setVisible(!none);
    if (!m_package)
        return;

    const QString installed = m_controller->shownVersion(m_package);
    const QVector<QSharedPointer<Models::PackageVersion>> versions = m_package->versions();
    for (int i = 1; i < versions.size(); ++i) {
        const QSharedPointer<Models::PackageVersion> version = versions.at(i);
        auto *item = new QListWidgetItem;
        m_list->insertItem(m_list->count(), item);
        auto *row = new PackageDetailOldVersionWidget(version->version);
        if (version->version == installed) {
            row->setButtonText(tr("Installed"));
            row->setButtonDisabled(true);
        } else {
            row->setButtonText(tr("Download"));
        }
        row->setButtonIcon(sharedIcons()->icon(0xF019, darkIconOptions()));
        connect(row, &PackageDetailOldVersionWidget::buttonClicked, this,
                [this, version] { installOlderVersion(version); });
        m_list->setItemWidget(item, row);
        item->setSizeHint(QSize(row->sizeHint().width(), 72));
    }
}

void PackageDetailOldVersionsList::installOlderVersion(const QSharedPointer<Models::PackageVersion> &version)
{
    if (!m_package)
        return;
    QString target = version->version;
    if (m_package->state() == Package::INSTALLED) {
        if (!InstallConfirmation::confirmUpdate(*m_controller, m_package, target, this))
            return;
        const QVector<QSharedPointer<Package>> dependents = m_controller->dependents(m_package, target);
        if (!dependents.isEmpty()) {
            QString text = tr("Install older version?\n\nFollowing extensions depend on newer version and may "
                              "stop working\n\n");
            for (const QSharedPointer<Package> &dependent : dependents)
                text += dependent->name() + QLatin1Char('\n');
            if (!MessageBox::ask(this, QMessageBox::Information, tr("Install Package"), text, true))
                return;
        }
        m_controller->installPackage(m_package, target);
    } else if (m_package->state() == Package::AVAILABLE) {
        if (!InstallConfirmation::confirmDependencies(*m_controller, m_package, target, this))
            return;
        m_controller->installPackage(m_package, target);
    }
}

} // namespace KOV::Ui
