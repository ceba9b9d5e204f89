#include "ui/packagewidget.h"

#include <QApplication>
#include <QColor>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMovie>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "common/imageloader.h"
#include "common/qtawesome.h"
#include "common/styledbackground.h"
#include "controllers/packagecontroller.h"
#include "managers/downloadmanager.h"
#include "models/download.h"
#include "ui/installconfirmation.h"
#include "ui/progresslabel.h"

namespace KOV::Ui {

using Models::Package;

namespace {

// Frames of the shared spinner so far, and the last one that a tile on screen showed.
quint64 spinnerFrames = 0;
quint64 spinnerShownAt = 0;

} // namespace

QMovie *PackageWidget::sharedLoadingMovie()
{
    // Every tile shows the same 24-pixel spinner; one animation serves them all. A movie of
    // its own per tile held a decoded 350 x 350 frame each and kept a core busy with a long list.
    static QPointer<QMovie> movie;
    if (!movie) {
        movie = new QMovie(QStringLiteral(":/resources/img/loading.gif"), QByteArray(), qApp);
        movie->setScaledSize(QSize(24, 24));
        // Decoded once: every later round shows the small frames it kept.
        movie->setCacheMode(QMovie::CacheAll);
        // Connected before any tile: when no tile on screen took the last frame, the spinner rests
        // until a loading tile is painted again.
        QObject::connect(movie, &QMovie::frameChanged, movie, [] {
            if (++spinnerFrames - spinnerShownAt > 1)
                movie->setPaused(true);
        });
    }
    return movie;
}

namespace {

// The tiles that wait for each icon transfer.
QHash<QUuid, int> &iconUsers()
{
    static QHash<QUuid, int> users;
    return users;
}

} // namespace

PackageWidget::~PackageWidget()
{
    // A list rebuilt while icons were on their way: what no tile shows any more is not fetched.
    if (!m_iconDownload)
        return;
    const QUuid id = m_iconDownload->id();
    if (--iconUsers()[id] > 0)
        return;
    iconUsers().remove(id);
    if (m_iconDownload->process() != Models::Download::FINISHED)
        m_controller->downloadManager()->cancel(m_iconDownload);
}

void PackageWidget::showSpinnerFrame()
{
    // Tiles scrolled out of view are left alone: only what is on screen is repainted. A tile of the
    // list lies on its viewport, so comparing two rectangles tells.
    if (!m_loading || !isVisible() || (parentWidget() && !parentWidget()->rect().intersects(geometry())))
        return;
    m_iconLabel->setPixmap(m_loadingMovie->currentPixmap());
    spinnerShownAt = spinnerFrames;
}

PackageWidget::PackageWidget(QSharedPointer<Controllers::PackageController> controller,
                             QSharedPointer<Package> package, QWidget *parent)
    : QWidget(parent)
    , m_package(std::move(package))
    , m_controller(std::move(controller))
{
    setObjectName(QStringLiteral("PackageWidget"));
    // A tile is reached with Tab and opened with Enter, as it is with a click on More Detail.
    setFocusPolicy(Qt::StrongFocus);
    m_titleLabel = new QLabel(this);
    m_summaryLabel = new QLabel;
    m_iconLabel = new QLabel(this);
    m_installedLabel = new QLabel(tr("Installed : "), this);
    m_availableLabel = new QLabel(tr("Available : "), this);
    // The catalogue's texts are shown as written: a label's rich text would load what it names.
    for (QLabel *label : { m_titleLabel, m_summaryLabel, m_installedLabel, m_availableLabel })
        label->setTextFormat(Qt::PlainText);
    // The versions are read whole; the summary is the one that gives way, elided.
    for (QLabel *label : { m_installedLabel, m_availableLabel })
        label->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    m_progressBar = new QProgressBar(this);
    m_progressText = new ProgressLabel(this);
    m_progressText->setPackage(m_package);
    m_actionButton = new QPushButton(this);

    if (m_package) {
        connect(m_package.data(), &Package::totalSize, this,
                [this](qlonglong size) { m_progressBar->setMaximum(int(size / 1000)); });
        connect(m_package.data(), &Package::downloadedSize, this,
                [this](qlonglong size) { m_progressBar->setValue(int(size / 1000)); });
        connect(m_package.data(), &Package::stateChanged, this, &PackageWidget::onStateChanged);
    }

    auto *layout = new QHBoxLayout(this);
    m_iconLabel->setObjectName(QStringLiteral("PackageIcon"));
    layout->addWidget(m_iconLabel);
    auto *texts = new QVBoxLayout;
    texts->addWidget(m_titleLabel);
    texts->addWidget(m_summaryLabel);
    auto *versions = new QHBoxLayout;
    versions->addWidget(m_installedLabel);
    versions->addWidget(m_availableLabel);
    texts->addLayout(versions);
    texts->addWidget(m_progressBar);
    texts->addWidget(m_progressText);
    layout->addLayout(texts);
    auto *actions = new QVBoxLayout;
    m_actionButton->setCursor(Qt::PointingHandCursor);
    actions->addWidget(m_actionButton);
    auto *detailButton = new QPushButton(tr("More Detail"), this);
    detailButton->setCursor(Qt::PointingHandCursor);
    detailButton->setIcon(sharedIcons()->icon(0xF05A, darkIconOptions()));
    actions->addWidget(detailButton);
    layout->addLayout(actions);

    connect(m_actionButton, &QPushButton::clicked, this, &PackageWidget::confirmAndInstall);
    connect(detailButton, &QPushButton::clicked, this, [this] { m_controller->showDetail(m_package); });
    finish();
}

void PackageWidget::finish()
{
    m_loadingMovie = sharedLoadingMovie();
    m_iconLabel->setMaximumSize(96, 96);
    m_iconLabel->setMinimumSize(96, 96);
    m_iconLabel->setAttribute(Qt::WA_TranslucentBackground);
    m_iconLabel->setAlignment(Qt::AlignCenter);
    m_loading = true;
    connect(m_loadingMovie, &QMovie::frameChanged, this, &PackageWidget::showSpinnerFrame);
    m_iconLabel->setPixmap(m_loadingMovie->currentPixmap());
    if (m_loadingMovie->state() == QMovie::NotRunning)
        m_loadingMovie->start();

    QFont title = m_titleLabel->font();
    title.setWeight(75);
    title.setPointSize(12);
    m_titleLabel->setFont(title);
    m_titleLabel->setText(m_package ? m_package->name() : QString());
    setAccessibleName(m_package ? m_package->name() : QString());
    // Not laid out yet: the width is a parentless widget's default, 640 pixels.
    const QString summary = m_package ? m_package->shortDescription() : QString();
    m_summaryLabel->setText(
        m_summaryLabel->fontMetrics().elidedText(summary, Qt::ElideRight, m_summaryLabel->width() - 150));

    m_progressBar->setMinimum(0);
    m_progressBar->setMaximum(0);
    m_progressBar->setValue(0);
    m_progressBar->setMaximumHeight(16);
    QSizePolicy policy = m_progressBar->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    m_progressBar->setSizePolicy(policy);
    m_actionButton->setMaximumWidth(192);

    if (!m_package)
        return;
    // A tile made while its package downloads (scrolled into view) starts where the transfer is.
    if (m_package->downloadTotal() > 0) {
        m_progressBar->setMaximum(int(m_package->downloadTotal() / 1000));
        m_progressBar->setValue(int(m_package->downloadDone() / 1000));
    }
    onStateChanged(m_package->state());

    if (m_package->icon().isEmpty()) {
        m_loading = false;
        m_iconLabel->clear();
        return;
    }
    // Tiles with the same icon share its one transfer.
    QSharedPointer<Models::Download> download = m_controller->downloadManager()->find(m_package->icon());
    const bool shared = download && !download->isResumable();
    if (!shared) {
        download = QSharedPointer<Models::Download>::create(m_package->icon(), false);
        download->setMaximumSize(ImageLoader::maximumFileSize);
    }
    connect(download.data(), &Models::Download::finished, this, [this](const QString &path) {
        const QSize size = QSize(96, 96) * devicePixelRatioF();
        ImageLoader::readLater(path, size, this, [this, size](const QImage &image) {
            m_loading = false;
            m_iconLabel->setScaledContents(true);
            if (image.isNull()) {
                m_iconLabel->clear();
                return;
            }
            QPixmap icon = QPixmap::fromImage(image.scaled(size));
            icon.setDevicePixelRatio(devicePixelRatioF());
            m_iconLabel->setPixmap(icon);
        });
    });
    m_iconDownload = download;
    ++iconUsers()[download->id()];
    if (!shared)
        m_controller->downloadManager()->add(download, false);
}

void PackageWidget::onStateChanged(Package::State state)
{
    struct Look
    {
        bool progress;
        QString text;
        const char *objectName;
        bool enabled;
        int icon;
    };
    Look look;
    switch (state) {
    case Package::AVAILABLE:
        look = { false, tr("Download"), "Download", true, 0xF0ED };
        break;
    case Package::INSTALLED:
        look = m_package->hasUpdate() ? Look { false, tr("Update"), "Update", true, 0xF0ED }
                                      : Look { false, tr("Installed"), "Installed", false, 0xF00C };
        break;
    // A transfer can be stopped; what it has is kept for the next try.
    case Package::PREPARING:
        look = { true, tr("Cancel"), "Busy", true, 0xF00D };
        m_actionButton->setToolTip(tr("Preparing"));
        break;
    case Package::DOWNLOADING:
        look = { true, tr("Cancel"), "Busy", true, 0xF00D };
        m_actionButton->setToolTip(tr("Downloading"));
        break;
    case Package::INSTALLING:
        look = { true, tr("Installing"), "Busy", false, 0xF254 };
        break;
    case Package::UNINSTALLING:
        look = { true, tr("Uninstalling"), "Busy", false, 0xF254 };
        break;
    // A failure is tried again from where it stopped, without a refresh in between.
    case Package::INSTALL_ERROR:
        look = { false, tr("Retry"), "Error", true, 0xF071 };
        m_actionButton->setToolTip(tr("Install Error"));
        break;
    case Package::DOWNLOAD_ERROR:
        look = { false, tr("Retry"), "Error", true, 0xF071 };
        m_actionButton->setToolTip(tr("Download Error"));
        break;
    case Package::DEPENDENCY_ERROR:
        look = { false, tr("Retry"), "Error", true, 0xF071 };
        m_actionButton->setToolTip(tr("Dependency Error"));
        break;
    default:
        look.objectName = nullptr;
        break;
    }

    if (look.objectName) {
        if (look.objectName != QLatin1String("Error") && look.objectName != QLatin1String("Busy"))
            m_actionButton->setToolTip(QString());
        if (isVisible())
            InstallConfirmation::reportFailure(m_package, state, this);
        m_progressBar->setVisible(look.progress);
        m_actionButton->setText(look.text);
        m_actionButton->setObjectName(QString::fromLatin1(look.objectName));
        m_actionButton->setEnabled(look.enabled);
        // A busy button is disabled while it installs: its icon stays light on the dark tile.
        QVariantMap options;
        if (look.objectName == QLatin1String("Busy"))
            options.insert(QStringLiteral("color-disabled"), QColor(255, 255, 255, 200));
        m_actionButton->setIcon(sharedIcons()->icon(look.icon, options));
    }

    m_actionButton->style()->unpolish(m_actionButton);
    m_actionButton->style()->polish(m_actionButton);
    m_installedLabel->setText(tr("Installed : ") + m_controller->shownVersion(m_package));
    const auto versions = m_package->versions();
    m_availableLabel->setText(tr("Available : ")
                              + (versions.isEmpty() ? QString() : versions.first()->version));
    QFont font = m_availableLabel->font();
    font.setWeight(m_package->hasUpdate() ? 75 : 50);
    m_availableLabel->setFont(font);
}

void PackageWidget::keyPressEvent(QKeyEvent *event)
{
    if (m_package && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        m_controller->showDetail(m_package);
        return;
    }
    QWidget::keyPressEvent(event);
}

void PackageWidget::confirmAndInstall()
{
    if (m_package)
        InstallConfirmation::act(*m_controller, m_package, this);
}

void PackageWidget::paintEvent(QPaintEvent *)
{
    // A loading tile coming into view wakes the spinner that rested while none was on screen.
    if (m_loading && m_loadingMovie->state() == QMovie::Paused) {
        spinnerShownAt = spinnerFrames;
        m_loadingMovie->setPaused(false);
    }
    paintStyleSheetBackground(this);
}

} // namespace KOV::Ui
