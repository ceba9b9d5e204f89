#include "ui/packageprocessingwidget.h"

#include <QLabel>
#include <QMovie>
#include <QPushButton>
#include <QVBoxLayout>

namespace KOV::Ui {

PackageProcessingWidget::PackageProcessingWidget(QWidget *parent)
    : QWidget(parent)
    , m_animationLabel(new QLabel(this))
    , m_textLabel(new QLabel(this))
    , m_retryButton(new QPushButton(tr("Try again"), this))
    , m_movie(new QMovie(QStringLiteral(":/resources/img/loading.gif"), QByteArray(), this))
{
    setObjectName(QStringLiteral("PackageProcessingWidget"));
    auto *layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(m_animationLabel);
    layout->addWidget(m_textLabel);
    layout->addWidget(m_retryButton, 0, Qt::AlignHCenter);
    layout->addStretch();
    m_textLabel->setObjectName(QStringLiteral("ProcessingText"));
    m_textLabel->setAlignment(Qt::AlignCenter);
    m_textLabel->setWordWrap(true);
    m_textLabel->setTextFormat(Qt::PlainText);
    m_retryButton->setObjectName(QStringLiteral("RetryButton"));
    m_retryButton->setCursor(Qt::PointingHandCursor);
    m_retryButton->hide();
    connect(m_retryButton, &QPushButton::clicked, this, &PackageProcessingWidget::retryRequested);

    m_movie->setScaledSize(QSize(72, 72));
    m_animationLabel->setAttribute(Qt::WA_TranslucentBackground);
    m_animationLabel->setAlignment(Qt::AlignCenter);
    m_animationLabel->setMovie(m_movie);
    updateAnimation();
}

void PackageProcessingWidget::updateAnimation()
{
    const bool shown = isVisible() && !m_animationLabel->isHidden();
    if (shown && m_movie->state() != QMovie::Running)
        m_movie->start();
    else if (!shown && m_movie->state() != QMovie::NotRunning)
        m_movie->stop();
}

void PackageProcessingWidget::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateAnimation();
}

void PackageProcessingWidget::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updateAnimation();
}

void PackageProcessingWidget::setMode(int mode)
{
    m_retryButton->setVisible(mode == MESSAGE);
    switch (mode) {
    case LOADING:
        m_animationLabel->show();
        m_textLabel->hide();
        show();
        break;
    case EMPTY:
        m_animationLabel->hide();
        m_textLabel->setText(tr("No items found"));
        m_textLabel->show();
        show();
        break;
    case HIDDEN:
        hide();
        break;
    case MESSAGE:
        m_animationLabel->hide();
        m_textLabel->show();
        show();
        break;
    default:
        break;
    }
    updateAnimation();
}

void PackageProcessingWidget::showEmpty(const QString &text)
{
    setMode(EMPTY);
    m_textLabel->setText(text);
}

void PackageProcessingWidget::showMessage(const QString &text)
{
    m_textLabel->setText(text);
    setMode(MESSAGE);
}

} // namespace KOV::Ui
