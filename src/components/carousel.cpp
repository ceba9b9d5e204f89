#include "components/carousel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMovie>
#include <QPushButton>
#include <QTimer>

#include "common/imageloader.h"
#include "common/qtawesome.h"
#include "managers/downloadmanager.h"
#include "models/download.h"

namespace KOV::Components {

Carousel::Carousel(QSharedPointer<Managers::DownloadManager> downloadManager, QWidget *parent)
    : QWidget(parent)
    , m_imageLabel(new QLabel(this))
    , m_previousButton(new QPushButton(this))
    , m_nextButton(new QPushButton(this))
    , m_downloadManager(std::move(downloadManager))
{
    setObjectName(QStringLiteral("Carousel"));
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_previousButton);
    layout->addWidget(m_imageLabel);
    layout->addWidget(m_nextButton);

    m_previousButton->setIcon(sharedIcons()->icon(0xF053));
    m_nextButton->setIcon(sharedIcons()->icon(0xF054));
    for (const auto &[button, name] : { std::make_pair(m_previousButton, tr("Previous picture")),
                                        std::make_pair(m_nextButton, tr("Next picture")) }) {
        button->setToolTip(name);
        button->setAccessibleName(name);
    }
    for (QPushButton *button : { m_previousButton, m_nextButton }) {
        button->setIconSize(QSize(56, 56));
        button->setCursor(Qt::PointingHandCursor);
    }
    m_imageLabel->setAttribute(Qt::WA_TranslucentBackground);
    m_imageLabel->setAlignment(Qt::AlignCenter);
    m_imageLabel->setScaledContents(false);
    // The picture follows the space, never the other way round.
    m_imageLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);

    connect(m_previousButton, &QPushButton::clicked, this, &Carousel::previous);
    connect(m_nextButton, &QPushButton::clicked, this, &Carousel::next);
}

void Carousel::setImages(const QVector<QString> &urls)
{
    ++m_generation;
    m_urls = urls;
    m_pixmaps = QVector<QPixmap>(urls.size());
    m_loading = QVector<bool>(urls.size(), false);
    m_attempts = QVector<int>(urls.size(), 0);
    if (!m_urls.isEmpty())
        showImage(0);
}

void Carousel::showImage(int position)
{
    if (m_urls.isEmpty())
        return;
    if (position < 0)
        position = m_urls.size() - 1;
    else if (position >= m_urls.size())
        position = 0;
    m_index = position;

    m_imageLabel->clear();
    delete m_movie;
    m_movie = nullptr;

    const QPixmap &picture = m_pixmaps.at(m_index);
    if (!picture.isNull()) {
        fitPicture();
        return;
    }
    m_movie = new QMovie(QStringLiteral(":/resources/img/loading.gif"), QByteArray(), this);
    m_movie->setScaledSize(QSize(24, 24));
    m_imageLabel->setMovie(m_movie);
    m_movie->start();
    load(m_index);
}

void Carousel::load(int position)
{
    // One transfer per image at a time, and a failing image is not asked for without end.
    if (m_loading.at(position) || m_attempts.at(position) > maximumRetries)
        return;
    m_loading[position] = true;
    ++m_attempts[position];
    auto download = QSharedPointer<Models::Download>::create(m_urls.at(position), false);
    download->setMaximumSize(ImageLoader::maximumFileSize);
    const int generation = m_generation;
    connect(download.data(), &Models::Download::finished, this, [this, generation, position](const QString &path) {
        onArrival(generation, position, path);
    });
    m_downloadManager->add(download);
}

void Carousel::onArrival(int generation, int position, const QString &path)
{
    if (generation != m_generation)
        return;
    // Decoded off this thread, no larger than a large screen shows it.
    ImageLoader::readLater(path, bannerSize, this, [this, generation, position](const QImage &image) {
        onDecoded(generation, position, image);
    });
}

void Carousel::onDecoded(int generation, int position, const QImage &image)
{
    if (generation != m_generation)
        return;
    m_loading[position] = false;
    m_pixmaps[position] = QPixmap::fromImage(image);
    if (m_index != position)
        return;
    if (!m_pixmaps.at(position).isNull()) {
        showImage(position);
        return;
    }
    QTimer::singleShot(retryDelayMs, this, [this, generation, position] {
        if (generation == m_generation && m_index == position && m_pixmaps.at(position).isNull())
            load(position);
    });
}

void Carousel::fitPicture()
{
    const QPixmap &picture = m_pixmaps.value(m_index);
    if (picture.isNull())
        return;
    // The whole banner, as large as the space lets it be, never stretched.
    const QSize room = m_imageLabel->size() * devicePixelRatioF();
    QPixmap shown = picture.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    shown.setDevicePixelRatio(devicePixelRatioF());
    m_imageLabel->setPixmap(shown);
}

void Carousel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitPicture();
}

void Carousel::previous()
{
    showImage(m_index - 1);
}

void Carousel::next()
{
    showImage(m_index + 1);
}

} // namespace KOV::Components
