#include "ui/packagedetailwidget.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "common/qtawesome.h"
#include "common/styledbackground.h"
#include "components/carousel.h"
#include "components/inerthtmlview.h"
#include "controllers/packagecontroller.h"
#include "models/package.h"
#include "ui/packagedetailoldversionslist.h"
#include "ui/packagedetailtitlebar.h"

namespace KOV::Ui {

namespace {

// Scrolls vertically with the bar hidden: the page scrolls by wheel and touchpad only.
QScrollArea *hiddenBarScrollArea(QWidget *content, QWidget *parent)
{
    auto *area = new QScrollArea(parent);
    area->setWidget(content);
    area->setWidgetResizable(true);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    area->verticalScrollBar()->hide();
    return area;
}

} // namespace

PackageDetailWidget::PackageDetailWidget(QSharedPointer<Controllers::PackageController> controller,
                                         QWidget *parent)
    : QWidget(parent)
    , m_controller(std::move(controller))
{
    setObjectName(QStringLiteral("PackageDetail"));
    auto *layout = new QVBoxLayout(this);
    auto *backRow = new QHBoxLayout;
    auto *back = new QPushButton(tr("Back"), this);
    back->setObjectName(QStringLiteral("BackButton"));
    back->setCursor(Qt::PointingHandCursor);
    back->setIcon(sharedIcons()->icon(0xF060));
    backRow->addWidget(back);
    backRow->addStretch();
    layout->addLayout(backRow);

    auto *frame = new QFrame;
    layout->addWidget(hiddenBarScrollArea(frame, this));
    auto *content = new QVBoxLayout(frame);
    m_carousel = new Components::Carousel(m_controller->downloadManager(), frame);
    m_titleBar = new PackageDetailTitleBar(m_controller, frame);
    m_tabs = new QTabWidget(frame);
    m_tabs->setMovable(false);
    m_tabs->setTabsClosable(false);
    // The catalogue's markup, shown without loading anything it names; each scrolls on its own.
    m_descriptionLabel = new Components::InertHtmlView(m_tabs);
    m_descriptionLabel->setObjectName(QStringLiteral("DetailDescription"));
    m_tabs->addTab(m_descriptionLabel, tr("Description"));
    m_changeLogLabel = new Components::InertHtmlView(m_tabs);
    m_changeLogLabel->setObjectName(QStringLiteral("DetailChangeLog"));
    m_tabs->addTab(m_changeLogLabel, tr("Change log"));
    m_oldVersions = new PackageDetailOldVersionsList(m_controller, m_tabs);
    m_tabs->addTab(m_oldVersions, tr("Old versions"));
    content->addWidget(m_carousel);
    content->addWidget(m_titleBar);
    content->addWidget(m_tabs);

    connect(back, &QPushButton::clicked, this, [this] { m_controller->showList(); });
}

QString PackageDetailWidget::changeLogDocument(const QSharedPointer<Models::Package> &package)
{
    QString html;
    if (!package)
        return html;
    for (const QSharedPointer<Models::PackageVersion> &version : package->versions())
        html += Controllers::PackageController::changeLogEntryHtml(*version);
    return html;
}

void PackageDetailWidget::showPackage(const QSharedPointer<Models::Package> &package)
{
    m_package = package;
    m_titleBar->setPackage(package);
    m_descriptionLabel->setHtml(package ? package->description() : QString());
    m_changeLogLabel->setHtml(changeLogDocument(package));
    m_oldVersions->setPackage(package);
    m_tabs->setCurrentIndex(0);
    const QStringList banners = package ? package->banners() : QStringList();
    if (banners.isEmpty()) {
        m_carousel->hide();
    } else {
        m_carousel->show();
        m_carousel->setImages(banners.toVector());
    }
    show();
}

void PackageDetailWidget::paintEvent(QPaintEvent *)
{
    paintStyleSheetBackground(this);
}

} // namespace KOV::Ui
