#include "ui/packagecontainer.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <utility>

#include "app/settings.h"
#include "common/styledbackground.h"
#include "controllers/packagecontroller.h"
#include "controllers/packagefilter.h"
#include "ui/packagedetailwidget.h"
#include "ui/packageprocessingwidget.h"
#include "ui/packagesidebar.h"
#include "ui/packagewidget.h"
#include "ui/tilelist.h"

namespace KOV::Ui {

PackageContainer::PackageContainer(QSharedPointer<Controllers::PackageController> controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(std::move(controller))
{
    setObjectName(QStringLiteral("PackageContainer"));
    using Controllers::PackageController;
    connect(m_controller.data(), &PackageController::update, this, &PackageContainer::onUpdate);
    connect(m_controller.data(), &PackageController::busy, this, &PackageContainer::onBusy);
    connect(m_controller.data(), &PackageController::error, this, &PackageContainer::onError);
    connect(m_controller.data(), &PackageController::empty, this, &PackageContainer::onEmpty);
    connect(m_controller.data(), &PackageController::list, this, &PackageContainer::onList);
    connect(m_controller.data(), &PackageController::detail, this, &PackageContainer::onDetail);
    connect(m_controller.data(), &PackageController::notice, this, [this](const QString &text) {
        m_notice->setText(text);
        m_notice->setVisible(!text.isEmpty());
    });

    auto *layout = new QHBoxLayout(this);
    layout->addStretch(1);
    m_sidebar = new PackageSidebar(m_controller, this);
    layout->addWidget(m_sidebar);
    auto *pages = new QVBoxLayout;
    // Above the list: why a newer catalogue was refused while the last accepted one is shown.
    m_notice = new QLabel(this);
    m_notice->setObjectName(QStringLiteral("CatalogueNotice"));
    m_notice->setWordWrap(true);
    m_notice->setTextFormat(Qt::PlainText);
    m_notice->hide();
    pages->addWidget(m_notice);
    m_list = new TileList(this);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Every row is as large as a tile: the layout of a long list need not ask each row.
    m_list->setUniformItemSizes(true);
    connect(m_list, &TileList::viewportChanged, this, &PackageContainer::createNearbyTiles);
    m_detail = new PackageDetailWidget(m_controller, this);
    m_processing = new PackageProcessingWidget(this);
    connect(m_processing, &PackageProcessingWidget::retryRequested, m_controller.data(),
            &Controllers::PackageController::loadCatalogue);
    pages->addWidget(m_list);
    pages->addWidget(m_detail);
    pages->addWidget(m_processing);
    // The list takes the room the window has; narrow margins stay beside it.
    layout->addLayout(pages, 8);
    layout->addStretch(1);
    m_list->hide();
    m_detail->hide();

    if (!showFilter())
        m_sidebar->hide();
    connect(m_controller->filter(), &Controllers::PackageFilter::changed, this,
            &PackageContainer::applyFilter);
    m_controller->loadCatalogue();
}

bool PackageContainer::showFilter() const
{
    return m_controller->settings()->current().showFilter.value != QLatin1String("false");
}

void PackageContainer::onUpdate()
{
    const QVector<QSharedPointer<Models::Package>> packages = m_controller->packages();
    m_keys.clear();
    // A tile is made only when its row comes near the viewport; until then the row keeps a tile's size,
    // which the first tile tells.
    PackageWidget *first = packages.isEmpty() ? nullptr : new PackageWidget(m_controller, packages.first());
    m_list->setRows(packages.size(), first ? QSize(first->sizeHint().width(), 128) : QSize());
    m_retired.retire(std::exchange(m_shown, packages));
    if (first)
        m_list->setTile(0, first);
    applyFilter();
    createNearbyTiles();
}

void PackageContainer::createTile(int row)
{
    if (m_list->tile(row) || row >= m_shown.size())
        return;
    m_list->setTile(row, new PackageWidget(m_controller, m_shown.at(row)));
}

void PackageContainer::createNearbyTiles()
{
    // Making a tile lays the list out again, which comes back here.
    if (m_creatingTiles || m_shown.isEmpty())
        return;
    m_creatingTiles = true;
    // A screen ahead and behind, so that scrolling rarely meets an empty row.
    const QVector<int> rows = m_list->rowsNearViewport(qMax(m_list->viewport()->height(), 512));
    for (int row : rows)
        createTile(row);
    m_creatingTiles = false;
}

void PackageContainer::applyFilter()
{
    const Controllers::PackageFilter &filter = *m_controller->filter();
    // The keys are made at the first search, not with every list.
    if (m_keys.size() != m_shown.size() && !filter.text().isEmpty()) {
        m_keys.reserve(m_shown.size());
        for (const QSharedPointer<Models::Package> &package : qAsConst(m_shown))
            m_keys.append(Controllers::PackageFilter::searchKey(*package));
    }
    const QString noKey;
    int visible = 0;
    for (int row = 0; row < m_shown.size() && row < m_list->count(); ++row) {
        const bool shown = filter.matches(*m_shown.at(row), m_keys.isEmpty() ? noKey : m_keys.at(row));
        if (m_list->isRowHidden(row) == shown)
            m_list->setRowHidden(row, !shown);
        visible += shown ? 1 : 0;
    }
    if (!m_onList)
        return;
    // The sidebar stays, so that the filter can be changed back.
    const bool none = visible == 0 && !m_shown.isEmpty();
    m_list->setVisible(!none);
    if (none && !filter.text().isEmpty())
        m_processing->showEmpty(tr("No package matches \"%1\".").arg(filter.text()));
    else if (none)
        m_processing->setMode(PackageProcessingWidget::EMPTY);
    else
        m_processing->hide();
}

void PackageContainer::onBusy()
{
    m_onList = false;
    m_list->hide();
    m_detail->hide();
    m_sidebar->hide();
    m_processing->setMode(PackageProcessingWidget::LOADING);
}

void PackageContainer::onError(const QString &error)
{
    m_onList = false;
    m_list->hide();
    m_detail->hide();
    m_sidebar->hide();
    m_processing->showMessage(error);
}

void PackageContainer::onEmpty()
{
    m_onList = false;
    m_list->hide();
    m_detail->hide();
    m_sidebar->hide();
    m_processing->setMode(PackageProcessingWidget::EMPTY);
}

void PackageContainer::onList()
{
    m_onList = true;
    m_list->show();
    m_detail->hide();
    m_sidebar->setVisible(showFilter());
    m_processing->hide();
    // Without the controls nothing may stay filtered out.
    if (!showFilter())
        m_controller->filter()->clear();
    applyFilter();
}

void PackageContainer::onDetail(const QSharedPointer<Models::Package> &package)
{
    m_onList = false;
    m_list->hide();
    m_sidebar->hide();
    m_processing->hide();
    m_detail->showPackage(package);
}

void PackageContainer::paintEvent(QPaintEvent *)
{
    paintStyleSheetBackground(this);
}

} // namespace KOV::Ui
