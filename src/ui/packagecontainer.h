#pragma once

#include <QSharedPointer>
#include <QWidget>

#include "models/retiredpackages.h"

class QLabel;

namespace KOV::Models {
class Package;
}
namespace KOV::Controllers {
class PackageController;
}

namespace KOV::Ui {

class PackageDetailWidget;
class PackageProcessingWidget;
class PackageSidebar;
class TileList;

/** The page below the top bar: the list of tiles, the detail page or the processing panel. */
class PackageContainer final : public QWidget
{
    Q_OBJECT
public:
    explicit PackageContainer(QSharedPointer<Controllers::PackageController> controller,
                              QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void onUpdate();
    void onBusy();
    void onError(const QString &error);
    void onEmpty();
    void onList();
    void onDetail(const QSharedPointer<Models::Package> &package);
    bool showFilter() const;
    /** Hides the rows the filter leaves out; when none is left, a text that says so. */
    void applyFilter();
    /** Makes the tiles of the rows that come near the viewport; the others stay empty rows. */
    void createNearbyTiles();
    void createTile(int row);

    QSharedPointer<Controllers::PackageController> m_controller;
    TileList *m_list;
    QLabel *m_notice;
    PackageDetailWidget *m_detail;
    PackageProcessingWidget *m_processing;
    PackageSidebar *m_sidebar;
    // The search key of each row, made once per list at its first search: a keystroke only compares.
    QVector<QString> m_keys;
    QVector<QSharedPointer<Models::Package>> m_shown;
    Models::RetiredPackages m_retired;
    bool m_onList = false;
    bool m_creatingTiles = false;
};

} // namespace KOV::Ui
