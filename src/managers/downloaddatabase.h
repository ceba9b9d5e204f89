#pragma once

#include <QHash>
#include <QSqlDatabase>
#include <QString>

class QUrl;

namespace KOV::Managers {

/**
 * download.db: which URL wrote each cache file (only that URL continues it) and the validator of the
 * remote file it was written from.
 */
class DownloadDatabase final
{
    Q_DISABLE_COPY_MOVE(DownloadDatabase)
public:
    DownloadDatabase() = default;
    ~DownloadDatabase();

    void open(const QString &file);
    /** Closes and deletes the file. */
    void remove();
    bool ownsFile(const QUrl &url) const;
    /** Whether `url` alone wrote the cache file that older runs named by the link's last component. */
    bool ownsLegacyFile(const QUrl &url) const;
    /** Makes `url` the writer of its cache file; recorded only when `keepRecord` (archives). */
    void claimFile(const QUrl &url, bool keepRecord);
    QByteArray validator(const QString &url) const;
    void recordValidator(const QString &url, const QByteArray &validator);

private:
    QSqlDatabase m_database;
    // Cache file name -> the URL that wrote it, as recorded in the downloads table.
    QHash<QString, QString> m_owners;
    // The same under the older rule, one name per last component; empty where several links share it.
    QHash<QString, QString> m_legacyOwners;
    // URL -> the validator of the file it wrote, for If-Range and the HEAD comparison.
    QHash<QString, QByteArray> m_validators;
};

} // namespace KOV::Managers
