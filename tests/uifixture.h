#pragma once

// A package controller on a catalogue of the test's own, with its archives served on loopback.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>

#include "app/settings.h"
#include "controllers/packagecontroller.h"
#include "httpserver.h"
#include "managers/downloadmanager.h"
#include "testsupport.h"

namespace KOVTest {

class UiFixture
{
public:
    UiFixture(const QString &showFilter = QStringLiteral("false"), const QString &localRepo = QStringLiteral("false"))
    {
        QCoreApplication::setOrganizationName(QStringLiteral("Tarrowmere"));
        QCoreApplication::setApplicationName(QStringLiteral("KOV Vazuv"));
        KOV::Models::Package::registerMetaTypes();
        server.listen();
        server.setRoot(home.path() + QStringLiteral("/served"));
        QDir().mkpath(home.path() + QStringLiteral("/served"));
        writeFile(xp(QStringLiteral("X-Plane-x86_64")), "#!");
        settings = QSharedPointer<KOV::Settings>::create();
        auto &edited = settings->edited();
        edited.installation.value = xp();
        edited.language.value = QStringLiteral("en");
        edited.cache.value = home.path() + QStringLiteral("/cache/");
        edited.preserve.value = home.path() + QStringLiteral("/preserve/");
        edited.backup.value = home.path() + QStringLiteral("/backup/");
        edited.showFilter.value = showFilter;
        edited.localRepo.value = localRepo;
        settings->commit();
        downloads = QSharedPointer<KOV::Managers::DownloadManager>::create(
            settings, QSharedPointer<QNetworkAccessManager>::create());
        controller = QSharedPointer<KOV::Controllers::PackageController>::create(settings, downloads);
        controller->setCatalogueUrl(server.url(QStringLiteral("/packages.json")));
        controller->openDatabase();
    }

    QString xp(const QString &relative = QString()) const { return home.path() + "/X-Plane/" + relative; }

    /** A package with the given versions (newest first), each with an archive of one file. */
    void addPackage(int id, const QString &name, const QStringList &versions, const QStringList &depends = {},
                    const QStringList &banners = {})
    {
        QJsonArray list;
        for (const QString &version : versions) {
            const QString archive = QStringLiteral("p%1-%2.7z").arg(id).arg(version);
            const QString source = home.path() + "/src/" + archive;
            writeFile(source + "/file.txt", (name + " " + version).toUtf8());
            make7z(home.path() + "/served/" + archive, source);
            list.append(QJsonObject {
                { "version", version },
                { "link", server.url("/" + archive) },
                { "depends", QJsonArray::fromStringList(depends) },
                { "log", QJsonArray { QStringLiteral("changes of %1").arg(version) } },
                { "install", QJsonObject { { "extract", QStringLiteral("Resources/plugins/P%1").arg(id) } } },
                { "uninstall",
                  QJsonObject { { "remove", QJsonArray { QStringLiteral("Resources/plugins/P%1").arg(id) } } } } });
        }
        catalogue.append(QJsonObject { { "id", id },
                                       { "name", QJsonObject { { "en", name } } },
                                       { "short_description", QJsonObject { { "en", name + " in short" } } },
                                       { "description", QJsonObject { { "en", "<b>" + name + "</b>" } } },
                                       { "banner", QJsonArray::fromStringList(banners) },
                                       { "versions", list } });
    }

    /** Writes the catalogue where the controller fetches it and parses it at once. */
    void publish()
    {
        const QByteArray json = QJsonDocument(catalogue).toJson();
        writeFile(home.path() + "/served/packages.json", json);
        writeFile(home.path() + "/packages.json", json);
        controller->parseCatalogue(home.path() + "/packages.json");
    }

    QSharedPointer<KOV::Models::Package> package(int id) const
    {
        for (const auto &p : controller->packages()) {
            if (p->id() == id)
                return p;
        }
        return {};
    }

    /** Records a package as installed in `version`, as a finished installation would. */
    void markInstalled(int id, const QString &version)
    {
        // The version is on record before the package turns INSTALLED, as during a real installation.
        const auto p = package(id);
        p->setState(KOV::Models::Package::INSTALLING);
        controller->saveState(p, version);
        p->setState(KOV::Models::Package::INSTALLED);
        controller->saveState(p, version);
    }

    TemporaryHome home;
    HttpServer server;
    QSharedPointer<KOV::Settings> settings;
    QSharedPointer<KOV::Managers::DownloadManager> downloads;
    QSharedPointer<KOV::Controllers::PackageController> controller;
    QJsonArray catalogue;
};

/** Whether two icons draw the same picture, at the size a button draws them. */
inline bool sameIcon(const QIcon &a, const QIcon &b, QIcon::Mode mode = QIcon::Normal)
{
    return a.pixmap(QSize(32, 32), mode).toImage() == b.pixmap(QSize(32, 32), mode).toImage();
}

} // namespace KOVTest
