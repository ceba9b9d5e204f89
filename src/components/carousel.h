#pragma once

#include <QPixmap>
#include <QSharedPointer>
#include <QVector>
#include <QWidget>

class QLabel;
class QMovie;
class QPushButton;

namespace KOV::Managers {
class DownloadManager;
}

namespace KOV::Components {

/** A package's banner images, one at a time, each downloaded the first time it is shown. */
class Carousel final : public QWidget
{
    Q_OBJECT
public:
    explicit Carousel(QSharedPointer<Managers::DownloadManager> downloadManager, QWidget *parent = nullptr);

    void setImages(const QVector<QString> &urls);
    void showImage(int position);
    void previous();
    void next();

    int index() const { return m_index; }
    /** How often a failing image is asked for again while it is shown, and after how long. */
    static constexpr int maximumRetries = 3;
    static constexpr int retryDelayMs = 2000;
    /** Banners are decoded no larger than this. */
    static constexpr QSize bannerSize { 2560, 1600 };

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void fitPicture();
    void load(int position);
    void onArrival(int generation, int position, const QString &path);
    void onDecoded(int generation, int position, const QImage &image);

    QLabel *m_imageLabel;
    QPushButton *m_previousButton;
    QPushButton *m_nextButton;
    int m_index = 0;
    QVector<QString> m_urls;
    QVector<QPixmap> m_pixmaps;
    QMovie *m_movie = nullptr;
    QSharedPointer<Managers::DownloadManager> m_downloadManager;
    // Every setImages starts a new generation; arrivals of an older one are ignored.
    int m_generation = 0;
    QVector<bool> m_loading;
    QVector<int> m_attempts;
};

} // namespace KOV::Components
