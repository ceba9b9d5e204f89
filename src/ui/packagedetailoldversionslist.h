#pragma once

#include <QSharedPointer>
#include <QWidget>

#include "models/package.h"

class QLabel;
class QListWidget;

namespace KOV::Controllers {
class PackageController;
}

namespace KOV::Ui {

/** Every version of a package but the newest, each installable on its own. */
class PackageDetailOldVersionsList final : public QWidget
{
    Q_OBJECT
public:
    explicit PackageDetailOldVersionsList(QSharedPointer<Controllers::PackageController> controller,
                                          QWidget *parent = nullptr);

    void setPackage(const QSharedPointer<Models::Package> &package);
    void installOlderVersion(const QSharedPointer<Models::PackageVersion> &version);
    QListWidget *list() const { return m_list; }

private:
    void onStateChanged(Models::Package::State state);
    void rebuild();

    QSharedPointer<Controllers::PackageController> m_controller;
    QSharedPointer<Models::Package> m_package;
    QListWidget *m_list;
    QLabel *m_none;
};

} // namespace KOV::Ui
