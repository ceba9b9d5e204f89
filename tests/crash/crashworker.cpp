// Runs the package controller as the program does and installs or uninstalls one package, so that
// a test can kill it at any moment and look at what a next start finds.
// Usage: kov-crash-worker CATALOGUE PACKAGE-ID VERSION|uninstall|start [STEP]
// (settings and data come from XDG_*). "start" only starts, which resolves what a kill left; with STEP
// the worker kills itself as soon as the journal records that step.
#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QTimer>

#include <csignal>

#include "app/environment.h"
#include "app/settings.h"
#include "controllers/filetransaction.h"
#include "controllers/installjournal.h"
#include "controllers/packagecontroller.h"
#include "managers/downloadmanager.h"

using KOV::Models::Package;

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc != 4 && argc != 5)
        return 64;
    // STEP may be "placing:N": killed after the Nth file step of the swap was logged.
    if (argc == 5) {
        const QStringList killAt = QString::fromLocal8Bit(argv[4]).split(QLatin1Char(':'));
        if (killAt.size() == 2) {
            const int fileStep = killAt.at(1).toInt();
            KOV::Controllers::FileTransaction::setStepHook([fileStep](int step) {
                if (step == fileStep)
                    std::raise(SIGKILL);
            });
        } else {
            KOV::Controllers::InstallJournal::setStepHook([killAt](const QString &step) {
                if (step == killAt.first())
                    std::raise(SIGKILL);
            });
        }
    }
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
    if (version == QLatin1String("start"))
        return 0;
    const bool uninstall = version == QLatin1String("uninstall");
    if (uninstall)
        controller.uninstallPackage(package);
    else
        controller.installPackage(package, version);

    int result = 1;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &application, [&] {
        const Package::State state = package->state();
        if (controller.isInstalling())
            return;
        if (uninstall) {
            QCoreApplication::exit(state == Package::AVAILABLE ? 0 : 1);
            return;
        }
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
