#include "common/imageloader.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QImageReader>
#include <QMetaObject>
#include <QPointer>
#include <QtConcurrent>

#include "app/logging.h"

namespace KOV {

QImage ImageLoader::read(const QString &path, const QSize &size)
{
    const QFileInfo info(path);
    // A device or a pipe would block the reader for ever; only plain files are images here.
    if (!info.isFile() || info.size() > maximumFileSize) {
        qCWarning(lcDownload) << "Image refused, not a file or larger than" << maximumFileSize
                              << "bytes : " << path;
        return QImage();
    }
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize full = reader.size();
    if (!full.isValid() || qint64(full.width()) * full.height() > maximumPixels) {
        qCWarning(lcDownload) << "Image refused, its size is unknown or more than" << maximumPixels
                              << "pixels :" << full << path;
        return QImage();
    }
    // Decoded straight to the size it is shown at: a large banner never exists whole in memory.
    if (size.isValid() && (full.width() > size.width() || full.height() > size.height()))
        reader.setScaledSize(full.scaled(size, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull())
        qCWarning(lcDownload) << "Image unreadable : " << path << reader.errorString();
    return image;
}

void ImageLoader::readLater(const QString &path, const QSize &size, QObject *context,
                            std::function<void(const QImage &image)> done)
{
    // Delivered through the application object, which outlives the task, and only if `context` still lives.
    QPointer<QObject> receiver = context;
    QObject *home = QCoreApplication::instance();
    QtConcurrent::run([path, size, receiver, home, done = std::move(done)] {
        QImage image = read(path, size);
        QMetaObject::invokeMethod(
            home,
            [receiver, done, image = std::move(image)] {
                if (receiver)
                    done(image);
            },
            Qt::QueuedConnection);
    });
}

} // namespace KOV
