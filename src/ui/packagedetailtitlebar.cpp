#include "ui/packagedetailtitlebar.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>
#include <QtConcurrent>

#include "common/externallink.h"
#include "common/qtawesome.h"
#include "common/styledbackground.h"
#include "controllers/packagecontroller.h"
#include "models/download.h"
#include "ui/installconfirmation.h"
#include "ui/messagebox.h"
#include "ui/progresslabel.h"

namespace KOV::Ui {

using Models::Package;

PackageDetailTitleBar::PackageDetailTitleBar(QSharedPointer<Controllers::PackageController> controller,
                                             QWidget *parent)
    : QWidget(parent)
    , m_controller(std::move(controller))
    , m_titleLabel(new QLabel(this))
    , m_installButton(new QPushButton(this))
    , m_uninstallButton(new QPushButton(this))
    , m_helpButton(new QPushButton(this))
    , m_manualButton(new QPushButton(this))
    , m_progressBar(new QProgressBar(this))
    , m_progressText(new ProgressLabel(this))
    , m_verifyButton(new QPushButton(this))
{
    setObjectName(QStringLiteral("PackageDetailTitleBar"));
    auto *layout = new QVBoxLayout(this);
    m_progressBar->setMinimum(0);
    m_progressBar->setMaximum(0);
    m_progressBar->setValue(0);
    m_progressBar->setMaximumHeight(16);
    layout->addWidget(m_progressBar);
    layout->addWidget(m_progressText);
    auto *row = new QHBoxLayout;
    m_titleLabel->setObjectName(QStringLiteral("DetailTitle"));
    m_titleLabel->setTextFormat(Qt::PlainText);
    row->addWidget(m_titleLabel);
    row->addStretch();
    m_installButton->setIcon(sharedIcons()->icon(0xF019));
    m_uninstallButton->setIcon(sharedIcons()->icon(0xF1F8, darkIconOptions()));
    m_helpButton->setIcon(sharedIcons()->icon(0xF0AC, darkIconOptions()));
    m_manualButton->setIcon(sharedIcons()->icon(0xF02D, darkIconOptions()));
    for (QPushButton *button : { m_installButton, m_uninstallButton, m_helpButton, m_manualButton }) {
        button->setCursor(Qt::PointingHandCursor);
        row->addWidget(button);
    }
    m_verifyButton->setObjectName(QStringLiteral("Verify"));
    m_verifyButton->setIcon(sharedIcons()->icon(0xF046, darkIconOptions()));
    m_verifyButton->setCursor(Qt::PointingHandCursor);
    row->addWidget(m_verifyButton);
    layout->addLayout(row);

    connect(m_verifyButton, &QPushButton::clicked, this, &PackageDetailTitleBar::verify);
    connect(&m_verifyWatcher, &QFutureWatcher<Controllers::VerifyResult>::finished, this,
            [this] { showVerifyResult(m_verifyWatcher.result()); });
    connect(m_installButton, &QPushButton::clicked, this, &PackageDetailTitleBar::confirmAndInstall);
    connect(m_uninstallButton, &QPushButton::clicked, this, &PackageDetailTitleBar::confirmAndUninstall);
    connect(m_helpButton, &QPushButton::clicked, this, &PackageDetailTitleBar::openHelp);
    connect(m_manualButton, &QPushButton::clicked, this, &PackageDetailTitleBar::openManual);
}

PackageDetailTitleBar::~PackageDetailTitleBar()
{
    // The check reads the X-Plane folder and reports to this bar: it ends first.
    m_verifyWatcher.waitForFinished();
}

void PackageDetailTitleBar::setPackage(const QSharedPointer<Package> &package)
{
    if (m_package)
        disconnect(m_package.data(), nullptr, this, nullptr);
    m_package = package;
    m_progressText->setPackage(package);
    if (m_package) {
        connect(m_package.data(), &Package::totalSize, this,
                [this](qlonglong size) { m_progressBar->setMaximum(int(size / 1000)); });
        connect(m_package.data(), &Package::downloadedSize, this,
                [this](qlonglong size) { m_progressBar->setValue(int(size / 1000)); });
        connect(m_package.data(), &Package::stateChanged, this, &PackageDetailTitleBar::onStateChanged);
    }
    refresh(true);
}

void PackageDetailTitleBar::refresh(bool newPackage)
{
    if (!m_package)
        return;
    const Package::State state = m_package->state();
    const bool busy
        = state == Package::PREPARING || state == Package::DOWNLOADING || state == Package::INSTALLING;
    const bool verifying = m_verifyWatcher.isRunning();
    m_progressBar->setVisible(busy || verifying);
    if (busy && newPackage) {
        // A download already under way tells its size again, so that the bar knows its range at once.
        if (const QSharedPointer<Models::Download> download = m_controller->activeDownload(m_package))
            download->notifyState();
    }
    m_titleLabel->setText(m_package->name());
    const bool installed = !m_controller->shownVersion(m_package).isEmpty();

    m_installButton->setEnabled(true);
    if (state == Package::AVAILABLE) {
        m_installButton->setText(tr("Download"));
        m_installButton->setObjectName(QStringLiteral("Download"));
        m_installButton->show();
        m_uninstallButton->hide();
    } else if (state == Package::INSTALLED) {
        if (m_package->hasUpdate()) {
            m_installButton->setText(tr("Update"));
            m_installButton->setObjectName(QStringLiteral("Update"));
        } else {
            m_installButton->setText(tr("Installed"));
            m_installButton->setObjectName(QStringLiteral("Installed"));
            m_installButton->setEnabled(false);
        }
        m_installButton->show();
        m_uninstallButton->setText(tr("Uninstall"));
        m_uninstallButton->show();
    } else if (state == Package::PREPARING || state == Package::DOWNLOADING) {
        // A transfer can be stopped; what it has is kept for the next try.
        m_installButton->setText(tr("Cancel"));
        m_installButton->setObjectName(QStringLiteral("Busy"));
        m_installButton->show();
        m_uninstallButton->hide();
    } else if (state == Package::INSTALL_ERROR || state == Package::DOWNLOAD_ERROR
               || state == Package::DEPENDENCY_ERROR) {
        m_installButton->setText(tr("Retry"));
        m_installButton->setObjectName(QStringLiteral("Error"));
        m_installButton->show();
        // A failed update leaves the old version in place, and it can go as any installed one can.
        m_uninstallButton->setText(tr("Uninstall"));
        m_uninstallButton->setVisible(installed);
    } else {
        m_installButton->hide();
        m_uninstallButton->hide();
    }
    m_installButton->style()->unpolish(m_installButton);
    m_installButton->style()->polish(m_installButton);
    m_helpButton->setText(tr("Get Help"));
    m_manualButton->setText(tr("Manual"));
    m_verifyButton->setText(tr("Verify"));
    m_verifyButton->setVisible(state == Package::INSTALLED || (installed && !busy));
    m_verifyButton->setEnabled(!verifying);
}

void PackageDetailTitleBar::verify()
{
    if (!m_package || m_controller->shownVersion(m_package).isEmpty() || m_verifyWatcher.isRunning())
        return;
    const Controllers::FileContext context = m_controller->fileContext(m_package);
    const QVector<Controllers::ManifestEntry> manifest = m_controller->manifest(m_package);
    const QStringList preserved = context.installed ? context.installed->install->preserve : QStringList();
    // Installed by hand, or before files were recorded: nothing to compare with, and no claim that all is well.
    if (manifest.isEmpty()) {
        MessageBox::tell(this, QMessageBox::Information, tr("Verify"),
                         tr("%1 has no record of its installed files to compare with.").arg(m_package->name()));
        return;
    }
    m_progressBar->setRange(0, qMax(1, manifest.size()));
    m_progressBar->setValue(0);
    QProgressBar *bar = m_progressBar;
    m_verifyWatcher.setFuture(QtConcurrent::run([root = context.root, manifest, preserved, bar] {
        return Controllers::ManifestVerifier::verify(root, manifest, preserved, [bar](int done, int) {
            // Queued: the bar lives on the GUI thread, and outlives the check (the destructor waits).
            QMetaObject::invokeMethod(bar, "setValue", Qt::QueuedConnection, Q_ARG(int, done));
        });
    }));
    refresh(false);
}

void PackageDetailTitleBar::showVerifyResult(const Controllers::VerifyResult &result)
{
    refresh(false);
    if (!m_package)
        return;
    QString text;
    if (result.isIntact()) {
        text = tr("All files of %1 are as they were installed.").arg(m_package->name());
    } else {
        text = tr("Some files of %1 are not as they were installed.").arg(m_package->name());
        if (!result.missing.isEmpty())
            text += QStringLiteral("\n\n") + tr("Missing:") + QLatin1Char('\n')
                    + result.missing.join(QLatin1Char('\n'));
        if (!result.changed.isEmpty())
            text += QStringLiteral("\n\n") + tr("Changed:") + QLatin1Char('\n')
                    + result.changed.join(QLatin1Char('\n'));
    }
    if (!result.changedPreserved.isEmpty())
        text += QStringLiteral("\n\n") + tr("Your own files, changed as expected:") + QLatin1Char('\n')
                + result.changedPreserved.join(QLatin1Char('\n'));
    QMessageBox box(QMessageBox::Information, tr("Verify"), text, QMessageBox::Close, this);
    box.setTextFormat(Qt::PlainText);
    QPushButton *repair = result.isIntact() ? nullptr : box.addButton(tr("Repair"), QMessageBox::AcceptRole);
    box.exec();
    if (repair && box.clickedButton() == repair && !m_controller->shownVersion(m_package).isEmpty()) {
        // The installed version again; preserved files stay the user's.
        QString version = m_controller->shownVersion(m_package);
        m_controller->installPackage(m_package, version);
    }
}

void PackageDetailTitleBar::onStateChanged(Package::State state)
{
    if (isVisible())
        InstallConfirmation::reportFailure(m_package, state, this);
    refresh(false);
}

void PackageDetailTitleBar::confirmAndInstall()
{
    if (m_package)
        InstallConfirmation::act(*m_controller, m_package, this);
}

void PackageDetailTitleBar::confirmAndUninstall()
{
    if (!m_package)
        return;
    QString text
        = tr("Uninstall") + QLatin1Char(' ') + m_package->name() + QLatin1Char(' ') + tr("from this system");
    const QVector<QSharedPointer<Package>> dependents = m_controller->dependents(m_package, QString());
    if (!dependents.isEmpty()) {
        text += tr("\n\nFollowing dependent extensions will also be uninstalled\n\n");
        for (const QSharedPointer<Package> &dependent : dependents)
            text += dependent->name() + QLatin1Char('\n');
    }
    if (!MessageBox::ask(this, QMessageBox::Information, tr("Uninstall Package"), text, true))
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_controller->uninstallPackage(m_package);
    QApplication::restoreOverrideCursor();
}

void PackageDetailTitleBar::openHelp()
{
    if (m_package)
        openExternalLink(QUrl(m_package->helpUrl(), QUrl::TolerantMode), this);
}

void PackageDetailTitleBar::openManual()
{
    if (m_package)
        openExternalLink(QUrl(m_package->manualUrl(), QUrl::TolerantMode), this);
}

void PackageDetailTitleBar::paintEvent(QPaintEvent *)
{
    paintStyleSheetBackground(this);
}

} // namespace KOV::Ui
