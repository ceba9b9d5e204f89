#pragma once

#include <QByteArray>

class QNetworkReply;

namespace KOV::Models {
class Download;
}

namespace KOV::Managers {

/** What tells whether the bytes on disk and the bytes of the server belong to one file. */
class HttpResume final
{
public:
    /** What tells one version of a remote file from another: a strong ETag, else Last-Modified. */
    static QByteArray validatorOf(const QNetworkReply &reply);
    /** The first byte position of a "bytes first-last/total" Content-Range, or -1. */
    static qint64 contentRangeStart(const QByteArray &header);
    /** The total of a "bytes first-last/total" Content-Range, or 0 when it is not given. */
    static qint64 contentRangeTotal(const QByteArray &header);
    /** The size and the hash (lower-case hex) match what the catalogue gives, where it gives them. */
    static bool isExpected(const Models::Download &download, qint64 size, const QByteArray &sha256Hex);
};

} // namespace KOV::Managers
