#include "ui/progresslabel.h"

namespace KOV::Ui {

using Models::Package;

ProgressLabel::ProgressLabel(QWidget *parent)
    : QLabel(parent)
{
    setObjectName(QStringLiteral("ProgressText"));
    setTextFormat(Qt::PlainText);
    QSizePolicy policy = sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    setSizePolicy(policy);
    hide();
}

void ProgressLabel::setPackage(const QSharedPointer<Package> &package)
{
    if (m_package)
        disconnect(m_package.data(), nullptr, this, nullptr);
    m_package = package;
    if (!m_package) {
        hide();
        return;
    }
    connect(m_package.data(), &Package::stateChanged, this, &ProgressLabel::onState);
    connect(m_package.data(), &Package::downloadedSize, this, &ProgressLabel::onDownloaded);
    connect(m_package.data(), &Package::installStep, this, [this](const QString &step) {
        if (m_package->state() == Package::INSTALLING)
            setText(ProgressText::installStep(step));
    });
    onState(m_package->state());
}

void ProgressLabel::onState(Package::State state)
{
    switch (state) {
    case Package::PREPARING:
        m_text.restart();
        setText(tr("Preparing"));
        show();
        break;
    case Package::DOWNLOADING:
        show();
        onDownloaded(m_package->downloadDone());
        break;
    case Package::INSTALLING:
        setText(ProgressText::installStep(QString()));
        show();
        break;
    case Package::UNINSTALLING:
        setText(tr("Removing files"));
        show();
        break;
    default:
        hide();
        break;
    }
}

void ProgressLabel::onDownloaded(qint64 done)
{
    if (m_package->state() != Package::DOWNLOADING)
        return;
    const qint64 total = m_package->downloadTotal();
    const QString text = m_text.downloaded(done, total);
    if (m_lastShown.isValid() && m_lastShown.elapsed() < 250 && done < total)
        return;
    m_lastShown.start();
    setText(text);
}

} // namespace KOV::Ui
