#pragma once

#include <QFutureWatcher>
#include <QSharedPointer>
#include <QWidget>

#include "controllers/manifestverifier.h"
#include "models/package.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace KOV::Controllers {
class PackageController;
}

namespace KOV::Ui {

class ProgressLabel;

/** The detail page's action bar: name, progress, install, uninstall, help and manual. */
class PackageDetailTitleBar final : public QWidget
{
    Q_OBJECT
public:
    explicit PackageDetailTitleBar(QSharedPointer<Controllers::PackageController> controller,
                                   QWidget *parent = nullptr);
    ~PackageDetailTitleBar() override;

    void setPackage(const QSharedPointer<Models::Package> &package);
    void refresh(bool newPackage);
    void confirmAndInstall();
    void confirmAndUninstall();
    void openHelp();
    void openManual();
    /** Compares the installed files with the package's manifest on the thread pool, then shows what it found.
     */
    void verify();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void onStateChanged(Models::Package::State state);
    void showVerifyResult(const Controllers::VerifyResult &result);

    QSharedPointer<Controllers::PackageController> m_controller;
    QLabel *m_titleLabel;
    QPushButton *m_installButton;
    QPushButton *m_uninstallButton;
    QPushButton *m_helpButton;
    QPushButton *m_manualButton;
    QProgressBar *m_progressBar;
    ProgressLabel *m_progressText;
    QPushButton *m_verifyButton;
    QSharedPointer<Models::Package> m_package;
    QFutureWatcher<Controllers::VerifyResult> m_verifyWatcher;
};

} // namespace KOV::Ui
