#include "ui/packagedetailwidget.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QShortcut>
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

    // The banner gets what the action bar and at least 250 pixels of tabs leave; the tabs scroll inside.
    auto *content = new QVBoxLayout;
    layout->addLayout(content, 1);
    m_carousel = new Components::Carousel(m_controller->downloadManager(), this);
    m_titleBar = new PackageDetailTitleBar(m_controller, this);
    m_tabs = new QTabWidget(this);
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
    content->addWidget(m_tabs, 1);

    connect(back, &QPushButton::clicked, this, [this] { m_controller->showList(); });
    // Back to the list from the keyboard, as a browser goes back.
    for (const QKeySequence &key : { QKeySequence(Qt::Key_Escape), QKeySequence(Qt::Key_Backspace),
                                     QKeySequence(Qt::ALT | Qt::Key_Left) }) {
        auto *shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [this] { m_controller->showList(); });
    }
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
    fitBanner();
}

void PackageDetailWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitBanner();
}

void PackageDetailWidget::fitBanner()
{
    // Banners are 16:9; the width of the page decides, unless the tabs would get less than they need.
    const int spare = height() - m_titleBar->sizeHint().height() - minimumTabHeight - 96;
    const int banner = qMax(0, qMin(width() * 9 / 16, spare));
    m_carousel->setFixedHeight(banner);
}

void PackageDetailWidget::paintEvent(QPaintEvent *)
{
    paintStyleSheetBackground(this);
}

} // namespace KOV::Ui
