#pragma once

#include <QFuture>
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
    /** Waits for the catalogues still being read. */
    ~CatalogueLoader() override;

    /** Downloads `url` and reads it; with a local repository, reads packages.json beside the program. */
    void load(const QString &url);
    /** Reads the catalogue file at `path`, at once. */
    void read(const QString &path);

signals:
    void loaded(QVector<QSharedPointer<KOV::Models::Package>> packages);
    /** The download failed with `text`; nothing was read. */
    void downloadFailed(QString text);
    /** The file is not a catalogue; the reason is in log.txt. */
    void unreadable();

private:
    struct Result
    {
        bool readable = false;
        QVector<QSharedPointer<KOV::Models::Package>> packages;
        QString problem;
    };
    /** Parses `path` into packages that live in `home`'s thread. */
    static Result parse(const QString &path, const QString &language, QThread *home);
    /** Reads `path` on a worker thread: a large catalogue does not stall the interface. */
    void readInBackground(const QString &path);
    void deliver(const QString &path, const Result &result);

    QSharedPointer<KOV::Settings> m_settings;
    QSharedPointer<Managers::DownloadManager> m_downloadManager;
    QTimer m_localRepositoryTimer;
    // Every read still running, the replaced ones too: each reports back to this object.
    QVector<QFuture<void>> m_readings;
    // Only the newest read is delivered.
    int m_generation = 0;
};

} // namespace KOV::Controllers
