#pragma once

#include <QFuture>
#include <QObject>
#include <QSharedPointer>
#include <QTimer>
#include <QVector>

#include "controllers/cataloguetrust.h"
#include "models/package.h"

namespace KOV {
class Settings;
namespace Managers {
class DownloadManager;
}
namespace Models {
class Download;
}
} // namespace KOV

namespace KOV::Controllers {

/**
 * Fetches the catalogue and its signature (from the server, or beside the program for a local repository),
 * checks it against the trusted keys and reads it.
 */
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
    /** Reads the catalogue file at `path` (and `path`.minisig beside it), at once. */
    void read(const QString &path);
    /** The keys a catalogue must be signed with; none: catalogues are read unverified. */
    void setTrustedKeys(const QVector<CatalogueTrust::Key> &keys) { m_keys = keys; }
    /** Where the newest accepted catalogue and its serial are kept. */
    void setTrustFolder(const QString &folder) { m_trustFolder = folder; }

signals:
    /**
     * Packages to show; `verified` when the publisher's signature vouched for them, `notice` when a newer
     * catalogue was refused and these are the last accepted one.
     */
    void loaded(QVector<QSharedPointer<KOV::Models::Package>> packages, bool verified, QString notice);
    /** The download failed with `text`; nothing was read. */
    void downloadFailed(QString text);
    /** No catalogue can be shown: `notice` says why when it was refused, else the reason is in log.txt. */
    void unreadable(QString notice);

private:
    struct Source
    {
        QString path;
        QString signature;
        bool fetched = false; // the load's own files, removed once read
    };
    struct Result
    {
        bool readable = false;
        QVector<QSharedPointer<KOV::Models::Package>> packages;
        QString problem;
        bool verified = false;
        QString notice;
    };
    /** Parses `source` into packages that live in `home`'s thread, checking it when keys are trusted. */
    static Result parse(const Source &source, const QString &language, QThread *home,
                        const QVector<CatalogueTrust::Key> &keys, const QString &trustFolder);
    /** Reads on a worker thread: a large catalogue does not stall the interface. */
    void readInBackground(const Source &source);
    void deliver(const QString &path, const Result &result);
    void fetchSignature(const QString &url, const QString &catalogue);
    QString loadFile(Models::Download &download);

    QSharedPointer<KOV::Settings> m_settings;
    QSharedPointer<Managers::DownloadManager> m_downloadManager;
    QTimer m_localRepositoryTimer;
    QVector<CatalogueTrust::Key> m_keys;
    QString m_trustFolder;
    // Every read still running, the replaced ones too: each reports back to this object.
    QVector<QFuture<void>> m_readings;
    // Only the newest read is delivered.
    int m_generation = 0;
    int m_loads = 0;
};

} // namespace KOV::Controllers
