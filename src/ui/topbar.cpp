#include "ui/topbar.h"

#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>

#include "app/environment.h"
#include "app/settings.h"
#include "common/qtawesome.h"
#include "common/styledbackground.h"
#include "components/windowcontrol.h"
#include "controllers/applicationcontroller.h"
#include "controllers/packagecontroller.h"
#include "controllers/topbarcontroller.h"
#include "dialogs/settingsdialog.h"

namespace KOV::Ui {

namespace {

QPushButton *toolButton(int codepoint, const QString &toolTip, QWidget *parent)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QStringLiteral("TopButton"));
    button->setIcon(sharedIcons()->icon(codepoint, darkIconOptions()));
    button->setToolTip(toolTip);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

TopBar::TopBar(QSharedPointer<Controllers::TopbarController> controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(std::move(controller))
{
    setObjectName(QStringLiteral("TopBar"));
    setMaximumHeight(75);
    const Settings::Configuration &settings = m_controller->settings()->current();

    auto *layout = new QHBoxLayout(this);
    layout->addStretch();
    auto *logo = new QLabel(this);
    logo->setPixmap(QPixmap(QStringLiteral(":/resources/img/store.png"))
                        .scaledToHeight(25, Qt::SmoothTransformation));
    logo->setMaximumHeight(25);
    layout->addWidget(logo);
    layout->addStretch();
    if (settings.localRepo.value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) {
        auto *repoLabel = new QLabel(tr("[Local Repository]"), this);
        repoLabel->setObjectName(QStringLiteral("RepoLabel"));
        layout->addWidget(repoLabel);
        layout->addStretch();
    }

    auto *xplaneButton = new QPushButton(tr("Run X-Plane"), this);
    xplaneButton->setObjectName(QStringLiteral("XPlaneButton"));
    xplaneButton->setIcon(sharedIcons()->icon(0xF072, QVariantMap()));
    xplaneButton->setCursor(Qt::PointingHandCursor);
    layout->addWidget(xplaneButton);

    auto *search = new QLineEdit(this);
    search->setPlaceholderText(tr("eg. Jetways"));
    layout->addWidget(search);
    QPushButton *searchButton = toolButton(0xF002, QString(), this);
    layout->addWidget(searchButton);
    QPushButton *refreshButton = toolButton(0xF021, tr("Refresh"), this);
    layout->addWidget(refreshButton);
    QPushButton *settingsButton = toolButton(0xF013, QString(), this);
    layout->addWidget(settingsButton);
    QPushButton *resetButton = toolButton(0xF0E2, tr("Reset"), this);
    layout->addWidget(resetButton);
    layout->addStretch();
    auto *windowControl = new Components::WindowControl(this);
    layout->addWidget(windowControl);

    if (settings.showFilter.value == QLatin1String("false")) {
        search->hide();
        searchButton->hide();
    }

    connect(xplaneButton, &QPushButton::clicked, this, &TopBar::runXPlane);
    connect(refreshButton, &QPushButton::clicked, this, &TopBar::refresh);
    connect(settingsButton, &QPushButton::clicked, this, &TopBar::openSettings);
    connect(resetButton, &QPushButton::clicked, this, &TopBar::confirmReset);

    const QSharedPointer<Controllers::TopbarController> window = m_controller;
    connect(windowControl, &Components::WindowControl::minimize, this, [window] { window->minimize(); });
    connect(windowControl, &Components::WindowControl::maximize, this, [window] { window->maximize(); });
    connect(windowControl, &Components::WindowControl::restore, this, [window] { window->restore(); });
    connect(windowControl, &Components::WindowControl::close, this, [window] { window->requestExit(); });
}

void TopBar::runXPlane()
{
    const QString root = m_controller->settings()->current().installation.value;
    QProcess::startDetached(root + QDir::separator() + xplaneExecutableName, {}, root);
}

void TopBar::refresh()
{
    m_controller->refresh();
}

void TopBar::openSettings()
{
    Dialogs::SettingsDialog dialog(m_controller->packageController(), m_controller->settings(), this);
    if (dialog.exec() == QDialog::Accepted)
        refresh();
}

void TopBar::confirmReset()
{
    if (m_controller->packageController()->isInstalling()) {
        QMessageBox::information(this, tr("Reset"),
                                 tr("An installation is in progress.\n\nTry the reset again after it has finished."),
                                 QMessageBox::Ok);
        return;
    }
    const QMessageBox::StandardButton answer
        = QMessageBox::critical(this, tr("Reset"),
                                tr("This action will reset databases and application prefrences.\n\nContinue?"),
                                QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    if (m_controller->reset())
        QCoreApplication::quit();
}

void TopBar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressPosition = event->pos();
    event->accept();
    m_dragging = true;
}

void TopBar::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging || !(event->buttons() & Qt::LeftButton))
        return;
    const QPoint delta = event->pos() - m_pressPosition;
    Controllers::ApplicationController &window = *m_controller->applicationController();
    window.move(window.x() + delta.x(), window.y() + delta.y());
}

void TopBar::mouseReleaseEvent(QMouseEvent *)
{
    m_dragging = false;
}

void TopBar::paintEvent(QPaintEvent *)
{
    paintStyleSheetBackground(this);
}

} // namespace KOV::Ui
