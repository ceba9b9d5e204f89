#pragma once

#include <QMainWindow>
#include <QSharedPointer>

namespace KOV::Controllers {
class ApplicationController;
class PackageController;
class TopbarController;
} // namespace KOV::Controllers

namespace KOV::Models {
class Package;
}

namespace KOV::Ui {

/** The frameless main window; its geometry and state come from the application controller. */
class ApplicationWindow final : public QMainWindow
{
    Q_OBJECT
public:
    ApplicationWindow(QSharedPointer<Controllers::ApplicationController> applicationController,
                      QSharedPointer<Controllers::PackageController> packageController,
                      QSharedPointer<Controllers::TopbarController> topbarController,
                      QWidget *parent = nullptr);

public slots:
    void onStyleChanged(const QString &style);
    void onLanguageChanged();
    void onGeometryChanged();
    void onStateChanged();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void reportDatabaseRebuilt(const QString &brokenFile);
    void reportDatabaseUnavailable(bool busy, const QString &file, const QString &detail);
    void askAboutConflicts(const QSharedPointer<Models::Package> &package, const QString &owners,
                           const QStringList &files);
    void reportUninstallFailure(const QSharedPointer<Models::Package> &package, const QStringList &leftovers);

    QSharedPointer<Controllers::ApplicationController> m_applicationController;
    QSharedPointer<Controllers::PackageController> m_packageController;
    bool m_databaseReported = false;
};

} // namespace KOV::Ui
