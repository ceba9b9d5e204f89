#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <functional>

class QObject;

namespace KOV {

/** Decodes icons and banners within bounds, off the interface thread, at the size they are shown. */
class ImageLoader final
{
public:
    /** Files larger than this are not read. */
    static constexpr qint64 maximumFileSize = 16 * 1024 * 1024;
    /** Images of more pixels than this are not decoded. */
    static constexpr qint64 maximumPixels = 40 * 1000 * 1000;

    /**
     * The image in `path` scaled to fit `size` (keeping its aspect ratio) while it is decoded; a null image,
     * with a line in log.txt, when it is too large, unreadable or no image.
     */
    static QImage read(const QString &path, const QSize &size);
    /** read() on the thread pool; `done` runs on `context`'s thread unless `context` is gone by then. */
    static void readLater(const QString &path, const QSize &size, QObject *context,
                          std::function<void(const QImage &image)> done);
};

} // namespace KOV
