#pragma once

#include <QSharedPointer>
#include <QWidget>

#include "models/package.h"

class QLabel;
class QMovie;
class QProgressBar;
class QPushButton;

namespace KOV::Controllers {
class PackageController;
}
namespace KOV::Models {
class Download;
}

namespace KOV::Ui {

class ProgressLabel;

/** One package in the list: icon, name, versions, progress and the action its state allows. */
class PackageWidget final : public QWidget
{
    Q_OBJECT
public:
    PackageWidget(QSharedPointer<Controllers::PackageController> controller,
                  QSharedPointer<Models::Package> package, QWidget *parent = nullptr);
    /** Drops the icon transfer when no other tile waits for it. */
    ~PackageWidget() override;

    void confirmAndInstall();
    /** The loading animation that the tiles share. */
    static QMovie *sharedLoadingMovie();

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void showSpinnerFrame();
    void onStateChanged(Models::Package::State state);
    void finish();

    QSharedPointer<Models::Package> m_package;
    QLabel *m_titleLabel;
    QLabel *m_summaryLabel;
    QLabel *m_iconLabel;
    QLabel *m_installedLabel;
    QLabel *m_availableLabel;
    QProgressBar *m_progressBar;
    ProgressLabel *m_progressText;
    QPushButton *m_actionButton;
    QMovie *m_loadingMovie = nullptr;
    bool m_loading = false;
    QSharedPointer<Models::Download> m_iconDownload;
    QSharedPointer<Controllers::PackageController> m_controller;
};

} // namespace KOV::Ui
