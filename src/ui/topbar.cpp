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
#include <QShortcut>

#include "app/environment.h"
#include "app/settings.h"
#include "common/qtawesome.h"
#include "common/styledbackground.h"
#include "components/windowcontrol.h"
#include "controllers/applicationcontroller.h"
#include "controllers/packagecontroller.h"
#include "controllers/topbarcontroller.h"
#include "dialogs/settingsdialog.h"
#include "models/package.h"
#include "ui/installconfirmation.h"

namespace KOV::Ui {

namespace {

QPushButton *toolButton(int codepoint, const QString &toolTip, QWidget *parent)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QStringLiteral("TopButton"));
    button->setIcon(sharedIcons()->icon(codepoint, darkIconOptions()));
    button->setToolTip(toolTip);
    // An icon alone says nothing to a screen reader.
    button->setAccessibleName(toolTip);
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
    logo->setPixmap(
        QPixmap(QStringLiteral(":/resources/img/store.png")).scaledToHeight(25, Qt::SmoothTransformation));
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
    m_updateAll = new QPushButton(this);
    m_updateAll->setObjectName(QStringLiteral("TopButton"));
    m_updateAll->setIcon(sharedIcons()->icon(0xF0ED, darkIconOptions()));
    m_updateAll->setCursor(Qt::PointingHandCursor);
    // Its place is kept while it is hidden: the buttons beside it never move under the pointer.
    m_updateAll->setText(tr("Update all (%1)").arg(999));
    m_updateAll->setMinimumWidth(m_updateAll->sizeHint().width());
    QSizePolicy keep = m_updateAll->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_updateAll->setSizePolicy(keep);
    m_updateAll->hide();
    layout->addWidget(m_updateAll);

    m_search = new QLineEdit(this);
    m_search->setPlaceholderText(tr("eg. Jetways"));
    // The hint is read whole in every language, with room for the field's frame and padding.
    m_search->setMinimumWidth(m_search->fontMetrics().horizontalAdvance(m_search->placeholderText()) + 40);
    layout->addWidget(m_search);
    m_searchButton = toolButton(0xF002, tr("Search (Ctrl+F)"), this);
    layout->addWidget(m_searchButton);
    QPushButton *refreshButton = toolButton(0xF021, tr("Refresh"), this);
    layout->addWidget(refreshButton);
    QPushButton *settingsButton = toolButton(0xF013, tr("Settings"), this);
    layout->addWidget(settingsButton);
    // Apart from Refresh, and an eraser: it empties the settings and the records.
    layout->addSpacing(24);
    QPushButton *resetButton = toolButton(0xF12D, tr("Reset"), this);
    layout->addWidget(resetButton);
    layout->addStretch();
    auto *windowControl = new Components::WindowControl(this);
    layout->addWidget(windowControl);

    followShowFilter();

    Controllers::PackageController *packages = m_controller->packageController().data();
    m_searchPause.setSingleShot(true);
    m_searchPause.setInterval(150);
    connect(m_search, &QLineEdit::textChanged, &m_searchPause, qOverload<>(&QTimer::start));
    connect(&m_searchPause, &QTimer::timeout, this,
            [this, packages] { packages->filter()->setText(m_search->text()); });
    connect(m_searchButton, &QPushButton::clicked, this, [this] { m_search->setFocus(); });
    auto *find = new QShortcut(QKeySequence::Find, this);
    find->setContext(Qt::WindowShortcut);
    connect(find, &QShortcut::activated, this, [this] {
        if (m_search->isVisible()) {
            m_search->setFocus();
            m_search->selectAll();
        }
    });
    auto *clear = new QShortcut(QKeySequence(Qt::Key_Escape), m_search);
    clear->setContext(Qt::WidgetShortcut);
    connect(clear, &QShortcut::activated, this, [this, packages] {
        m_search->clear();
        m_searchPause.stop();
        packages->filter()->setText(QString());
    });
    connect(m_updateAll, &QPushButton::clicked, this, &TopBar::confirmUpdateAll);
    // The setting takes effect at the next list, and each list brings its own packages to count.
    connect(packages, &Controllers::PackageController::list, this, [this] {
        followShowFilter();
        countUpdates();
    });
    connect(packages, &Controllers::PackageController::update, this, [this, packages] {
        for (const QSharedPointer<Models::Package> &package : packages->packages())
            connect(package.data(), &Models::Package::stateChanged, this, &TopBar::countUpdates,
                    Qt::UniqueConnection);
        countUpdates();
    });

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

void TopBar::followShowFilter()
{
    const bool shown = m_controller->settings()->current().showFilter.value != QLatin1String("false");
    m_search->setVisible(shown);
    m_searchButton->setVisible(shown);
    if (!shown && !m_search->text().isEmpty()) {
        const QSignalBlocker quiet(m_search);
        m_search->clear();
    }
}

void TopBar::countUpdates()
{
    const int updates = m_controller->packageController()->updatable().size();
    m_updateAll->setText(tr("Update all (%1)").arg(updates));
    m_updateAll->setVisible(updates > 0);
}

void TopBar::confirmUpdateAll()
{
    InstallConfirmation::runUpdateAll(*m_controller->packageController(), this);
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
        QMessageBox::information(
            this, tr("Reset"),
            tr("An installation is in progress.\n\nTry the reset again after it has finished."),
            QMessageBox::Ok);
        return;
    }
    const QMessageBox::StandardButton answer = QMessageBox::critical(
        this, tr("Reset"), tr("This action will reset databases and application prefrences.\n\nContinue?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
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
