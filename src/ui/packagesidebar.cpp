#include "ui/packagesidebar.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "common/styledbackground.h"
#include "controllers/packagecontroller.h"

namespace KOV::Ui {

PackageSidebar::PackageSidebar(QSharedPointer<Controllers::PackageController> controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(std::move(controller))
{
    setObjectName(QStringLiteral("PackageSidebar"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Category"), this));
    auto *categories = new QComboBox(this);
    for (const QString &category : m_controller->categories()) {
        QString text = category.toLower();
        if (!text.isEmpty())
            text[0] = text.at(0).toUpper();
        categories->addItem(text, category);
    }
    layout->addWidget(categories);
    layout->addWidget(new QLabel(tr("Type"), this));
    auto *types = new QListWidget(this);
    types->setMaximumHeight(150);
    for (const QString &type : { tr("Free"), tr("Paid") }) {
        auto *item = new QListWidgetItem(type, types);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setData(Qt::CheckStateRole, Qt::Checked);
    }
    layout->addWidget(types);
    layout->addStretch();
}

void PackageSidebar::paintEvent(QPaintEvent *)
{
    paintStyleSheetBackground(this);
}

} // namespace KOV::Ui
