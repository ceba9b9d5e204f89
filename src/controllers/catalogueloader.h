#pragma once

#include <QObject>
#include <QSharedPointer>
#include <QTimer>
#include <QVector>

#include "models/package.h"

namespace KOV {
class Settings;
namespace Managers {
class DownloadManager;
}
} // namespace KOV

namespace KOV::Controllers {

/** Fetches the catalogue (from the server, or beside the program for a local repository) and reads it. */
class CatalogueLoader final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CatalogueLoader)
public:
    CatalogueLoader(QSharedPointer<KOV::Settings> settings,
                    QSharedPointer<Managers::DownloadManager> downloadManager, QObject *parent = nullptr);

    /** Downloads `url` and reads it; with a local repository, reads packages.json beside the program. */
    void load(const QString &url);
    /** Reads the catalogue file at `path`. */
    void read(const QString &path);

signals:
    void loaded(QVector<QSharedPointer<KOV::Models::Package>> packages);
    /** The download failed with `text`; nothing was read. */
    void downloadFailed(QString text);
    /** The file is not a catalogue; the reason is in log.txt. */
    void unreadable();

private:
    QSharedPointer<KOV::Settings> m_settings;
    QSharedPointer<Managers::DownloadManager> m_downloadManager;
    QTimer m_localRepositoryTimer;
};

} // namespace KOV::Controllers
