// Runs the package controller as the program does and installs one package version, so that
// a test can kill it at any moment and look at what a next start finds.
// Usage: kov-crash-worker CATALOGUE PACKAGE-ID VERSION   (settings and data come from XDG_*)
#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QTimer>

#include "app/environment.h"
#include "app/settings.h"
#include "controllers/packagecontroller.h"
#include "managers/downloadmanager.h"

using KOV::Models::Package;

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc != 4)
        return 64;
    QCoreApplication::setOrganizationName(QStringLiteral("Tarrowmere"));
    QCoreApplication::setApplicationName(QStringLiteral("KOV Vazuv"));
    Package::registerMetaTypes();

    auto settings = QSharedPointer<KOV::Settings>::create();
    auto downloads = QSharedPointer<KOV::Managers::DownloadManager>::create(
        settings, QSharedPointer<QNetworkAccessManager>::create());
    KOV::Controllers::PackageController controller(settings, downloads);
    KOV::ensureDir(settings->current().preserve.value, true);
    KOV::ensureDir(settings->current().backup.value, true);
    controller.openDatabase();
    controller.parseCatalogue(QString::fromLocal8Bit(argv[1]));

    const int id = QByteArray(argv[2]).toInt();
    QSharedPointer<Package> package;
    for (const auto &candidate : controller.packages()) {
        if (candidate->id() == id)
            package = candidate;
    }
    if (!package)
        return 65;
    QString version = QString::fromLocal8Bit(argv[3]);
    controller.installPackage(package, version);

    int result = 1;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &application, [&] {
        const Package::State state = package->state();
        if (controller.isInstalling())
            return;
        if (state == Package::INSTALLED)
            result = 0;
        else if (state != Package::INSTALL_ERROR && state != Package::DOWNLOAD_ERROR
                 && state != Package::DEPENDENCY_ERROR)
            return;
        QCoreApplication::exit(result);
    });
    check.start(10);
    return QCoreApplication::exec();
}
