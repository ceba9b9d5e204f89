// Installs a package of about 200 MB in a few thousand files with the package controller,
// from the loopback server into a temporary X-Plane folder, against curl plus "7z x" by hand.
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

#include "app/settings.h"
#include "benchsupport.h"
#include "controllers/packagecontroller.h"
#include "managers/downloadmanager.h"

using namespace KOVBench;
using KOV::Models::Package;

namespace {

constexpr int fileCount = 3000;
constexpr int fileSize = 128 * 1024;

bool makeArchive(const QString &work, const QString &archive)
{
    const QString source = work + QStringLiteral("/source");
    QRandomGenerator generator(7);
    QByteArray block(fileSize, Qt::Uninitialized);
    for (int i = 0; i < fileCount; ++i) {
        // Half noise, half text: compresses to about half, as scenery and plugins do.
        generator.fillRange(reinterpret_cast<quint32 *>(block.data()), fileSize / 8);
        for (int j = fileSize / 2; j < fileSize; ++j)
            block[j] = char('a' + (j * 7 + i) % 26);
        const QString folder = QStringLiteral("%1/Objects/set%2").arg(source).arg(i / 100);
        QDir().mkpath(folder);
        QFile file(QStringLiteral("%1/object%2.obj").arg(folder).arg(i));
        if (!file.open(QIODevice::WriteOnly) || file.write(block) != block.size())
            return false;
    }
    QProcess sevenZip;
    sevenZip.setWorkingDirectory(source);
    sevenZip.start(QStringLiteral("7z"), { QStringLiteral("a"), QStringLiteral("-bd"), QStringLiteral("-mx=1"),
                                           archive, QStringLiteral(".") });
    sevenZip.waitForFinished(-1);
    QDir(source).removeRecursively();
    return sevenZip.exitCode() == 0;
}

double byHand(const QString &url, const QString &work)
{
    const QString archive = work + QStringLiteral("/hand.7z");
    const QString target = work + QStringLiteral("/hand/");
    QElapsedTimer timer;
    timer.start();
    const int fetched = QProcess::execute(QStringLiteral("curl"), { QStringLiteral("-s"), QStringLiteral("-o"), archive, url });
    QProcess sevenZip;
    sevenZip.start(QStringLiteral("7z"), { QStringLiteral("x"), archive, QStringLiteral("-o") + target,
                                           QStringLiteral("-aoa") });
    sevenZip.waitForFinished(-1);
    const double seconds = timer.nsecsElapsed() / 1e9;
    QFile::remove(archive);
    QDir(target).removeRecursively();
    return fetched == 0 && sevenZip.exitCode() == 0 ? seconds : -1;
}

double withController(KOV::Controllers::PackageController &controller)
{
    const QSharedPointer<Package> package = controller.packages().first();
    QElapsedTimer timer;
    timer.start();
    QString version;
    controller.installPackage(package, version);
    // Waits in the event loop, so that the waiting takes no processor time from 7-Zip.
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        const Package::State state = package->state();
        if ((state == Package::INSTALLED && !controller.isInstalling()) || state == Package::INSTALL_ERROR
            || state == Package::DOWNLOAD_ERROR)
            loop.quit();
    });
    check.start(5);
    loop.exec();
    if (package->state() != Package::INSTALLED)
        return -1;
    const double seconds = timer.nsecsElapsed() / 1e9;
    // The figure counts only installations that recorded every file they put in place.
    if (controller.manifest(package).size() < fileCount)
        return -1;
    // Untimed: the uninstallation runs on the worker and must end before the next run.
    controller.uninstallPackage(package);
    QTimer settled;
    QObject::connect(&settled, &QTimer::timeout, &loop, [&] {
        if (!controller.isInstalling())
            loop.quit();
    });
    settled.start(5);
    loop.exec();
    return package->state() == Package::AVAILABLE ? seconds : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    Package::registerMetaTypes();
    QTemporaryDir work;

    const QString served = work.path() + QStringLiteral("/served");
    QDir().mkpath(served);
    out() << "making an archive of " << fileCount << " files..." << Qt::endl;
    if (!makeArchive(work.path(), served + QStringLiteral("/scenery.7z"))) {
        out() << "cannot make the archive" << Qt::endl;
        return 1;
    }
    out() << "archive: " << QFileInfo(served + QStringLiteral("/scenery.7z")).size() / (1024 * 1024) << " MiB"
          << Qt::endl;
    ServerProcess server(served);
    const QString url = server.url(QStringLiteral("/scenery.7z"));

    auto settings = settingsIn(work.path());
    QDir().mkpath(settings->edited().installation.value);
    settings->commit();
    auto downloads = QSharedPointer<KOV::Managers::DownloadManager>::create(
        settings, QSharedPointer<QNetworkAccessManager>::create());
    KOV::Controllers::PackageController controller(settings, downloads);
    controller.openDatabase();
    // With its hash and size, as the catalogue gives them: the download is checked as it arrives.
    QFile archive(served + QStringLiteral("/scenery.7z"));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!archive.open(QIODevice::ReadOnly) || !hash.addData(&archive))
        return 1;
    const QJsonArray catalogue { QJsonObject {
        { "id", 77 },
        { "versions", QJsonArray { QJsonObject {
                          { "version", "1.0.0" },
                          { "link", url },
                          { "sha256", QString::fromLatin1(hash.result().toHex()) },
                          { "size", archive.size() },
                          { "install", QJsonObject { { "extract", "Custom Scenery/Big" } } },
                          { "uninstall", QJsonObject { { "remove", QJsonArray { "Custom Scenery/Big" } } } } } } } } };
    QFile file(work.path() + QStringLiteral("/packages.json"));
    file.open(QIODevice::WriteOnly);
    file.write(QJsonDocument(catalogue).toJson());
    file.close();
    controller.parseCatalogue(file.fileName());

    // One warm-up of each side, then pairs in alternating order; the figure is the median of the per-pair
    // ratios, so that it never divides times of different runs.
    if (byHand(url, work.path()) < 0 || withController(controller) < 0) {
        out() << "an installation failed" << Qt::endl;
        return 1;
    }
    QVector<double> ratios;
    for (int run = 0; run < 5; ++run) {
        const bool handFirst = run % 2 == 0;
        const double first = handFirst ? byHand(url, work.path()) : withController(controller);
        const double second = handFirst ? withController(controller) : byHand(url, work.path());
        const double hand = handFirst ? first : second;
        const double ours = handFirst ? second : first;
        if (hand < 0 || ours < 0) {
            out() << "an installation failed" << Qt::endl;
            return 1;
        }
        ratios << ours / hand;
        out() << QStringLiteral("run %1: curl + 7z x %2 s, package controller %3 s, ratio %4")
                     .arg(run + 1)
                     .arg(hand, 0, 'f', 2)
                     .arg(ours, 0, 'f', 2)
                     .arg(ours / hand, 0, 'f', 3)
              << Qt::endl;
    }
    std::sort(ratios.begin(), ratios.end());
    out() << QStringLiteral("install time ratio package controller / (curl + 7z x): median %1, min %2, max %3 "
                            "(goal: at most 1.10)")
                 .arg(ratios.at(ratios.size() / 2), 0, 'f', 2)
                 .arg(ratios.first(), 0, 'f', 2)
                 .arg(ratios.last(), 0, 'f', 2)
          << Qt::endl;
    return 0;
}
