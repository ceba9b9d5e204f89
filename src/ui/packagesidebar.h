#pragma once

#include <QSharedPointer>
#include <QWidget>

namespace KOV::Controllers {
class PackageController;
}

namespace KOV::Ui {

/** The filter sidebar beside the list: categories and types, shown when ShowFilter allows. */
class PackageSidebar final : public QWidget
{
    Q_OBJECT
public:
    explicit PackageSidebar(QSharedPointer<Controllers::PackageController> controller, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QSharedPointer<Controllers::PackageController> m_controller;
};

} // namespace KOV::Ui
