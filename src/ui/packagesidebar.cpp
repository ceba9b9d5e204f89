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
    categories->addItem(tr("All"), QString());
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
    layout->addWidget(new QLabel(tr("Show"), this));
    auto *show = new QComboBox(this);
    show->addItem(tr("All"), Controllers::PackageFilter::ALL);
    show->addItem(tr("Installed"), Controllers::PackageFilter::INSTALLED);
    show->addItem(tr("Updates available"), Controllers::PackageFilter::UPDATES);
    layout->addWidget(show);
    layout->addStretch();

    Controllers::PackageFilter *filter = m_controller->filter();
    connect(categories, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [filter, categories](int index) { filter->setCategory(categories->itemData(index).toString()); });
    connect(types, &QListWidget::itemChanged, this, [filter, types] {
        filter->setTypes(types->item(0)->checkState() == Qt::Checked,
                         types->item(1)->checkState() == Qt::Checked);
    });
    connect(show, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [filter, show](int index) {
        filter->setShow(Controllers::PackageFilter::Show(show->itemData(index).toInt()));
    });
    // A filter cleared elsewhere (the setting turned off) shows in the controls too.
    connect(filter, &Controllers::PackageFilter::changed, this, [filter, categories, types, show] {
        if (!filter->isEmpty())
            return;
        const QSignalBlocker blockCategories(categories);
        const QSignalBlocker blockTypes(types);
        const QSignalBlocker blockShow(show);
        categories->setCurrentIndex(0);
        types->item(0)->setCheckState(Qt::Checked);
        types->item(1)->setCheckState(Qt::Checked);
        show->setCurrentIndex(0);
    });
}

void PackageSidebar::paintEvent(QPaintEvent *)
{
    paintStyleSheetBackground(this);
}

} // namespace KOV::Ui
