#include "managers/httpresume.h"

#include <QNetworkReply>
#include <QRegularExpression>

#include "models/download.h"

namespace KOV::Managers {

QByteArray HttpResume::validatorOf(const QNetworkReply &reply)
{
    // A weak ETag may stay the same for other bytes: it cannot vouch for a byte range.
    const QByteArray etag = reply.rawHeader("ETag");
    if (!etag.isEmpty() && !etag.startsWith("W/"))
        return etag;
    return reply.rawHeader("Last-Modified");
}

qint64 HttpResume::contentRangeStart(const QByteArray &header)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*bytes\\s+(\\d+)-\\d+/(\\d+|\\*)\\s*$"));
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(header));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

qint64 HttpResume::contentRangeTotal(const QByteArray &header)
{
    const int slash = header.lastIndexOf('/');
    return slash < 0 ? 0 : qMax<qint64>(0, header.mid(slash + 1).trimmed().toLongLong());
}

bool HttpResume::isExpected(const Models::Download &download, qint64 size, const QByteArray &sha256Hex)
{
    if (download.expectedSize() > 0 && size != download.expectedSize())
        return false;
    return download.expectedSha256().isEmpty() || sha256Hex == download.expectedSha256();
}

} // namespace KOV::Managers
