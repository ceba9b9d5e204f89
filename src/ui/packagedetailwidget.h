#pragma once

#include <QSharedPointer>
#include <QWidget>

class QLabel;
class QTabWidget;

namespace KOV::Models {
class Package;
}
namespace KOV::Controllers {
class PackageController;
}
namespace KOV::Components {
class Carousel;
class InertHtmlView;
}

namespace KOV::Ui {

class PackageDetailOldVersionsList;
class PackageDetailTitleBar;

/** One package in full: banners, the action bar, description, change log and older versions. */
class PackageDetailWidget final : public QWidget
{
    Q_OBJECT
public:
    explicit PackageDetailWidget(QSharedPointer<Controllers::PackageController> controller,
                                 QWidget *parent = nullptr);

    void showPackage(const QSharedPointer<Models::Package> &package);
    /** All versions' change logs, newest first, in the markup of the update question. */
    static QString changeLogDocument(const QSharedPointer<Models::Package> &package);

    /** The tabs never get less than this, the banner gives way first. */
    static constexpr int minimumTabHeight = 250;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void fitBanner();

    QSharedPointer<Models::Package> m_package;
    QSharedPointer<Controllers::PackageController> m_controller;
    Components::InertHtmlView *m_descriptionLabel;
    Components::InertHtmlView *m_changeLogLabel;
    Components::Carousel *m_carousel;
    PackageDetailTitleBar *m_titleBar;
    PackageDetailOldVersionsList *m_oldVersions;
    QTabWidget *m_tabs;
};

} // namespace KOV::Ui
