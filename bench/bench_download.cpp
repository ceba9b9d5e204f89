// Fetches a 1 GiB file from the loopback server with the download manager and with curl,
// and compares throughput; also reports how much memory the program grew by meanwhile.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "app/settings.h"
#include "benchsupport.h"
#include "managers/downloadmanager.h"
#include "models/download.h"

using namespace KOVBench;

namespace {

constexpr qint64 fileSize = 1024LL * 1024 * 1024;

bool makeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(4 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (qint64 written = 0; written < fileSize; written += block.size()) {
        generator.fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
        if (file.write(block) != block.size())
            return false;
    }
    return true;
}

double curlSeconds(const QString &url, const QString &target)
{
    QElapsedTimer timer;
    timer.start();
    const int status = QProcess::execute(QStringLiteral("curl"),
                                         { QStringLiteral("-s"), QStringLiteral("-o"), target, url });
    const double seconds = timer.nsecsElapsed() / 1e9;
    return status == 0 && QFileInfo(target).size() == fileSize ? seconds : -1;
}

double managerSeconds(KOV::Managers::DownloadManager &manager, const QString &url, qint64 &peakGrowthKb)
{
    auto download = QSharedPointer<KOV::Models::Download>::create(url, true);
    QEventLoop loop;
    QObject::connect(download.data(), &KOV::Models::Download::finished, &loop, &QEventLoop::quit);
    const qint64 before = statusKb("VmRSS");
    resetPeakMemory();
    QElapsedTimer timer;
    timer.start();
    manager.add(download);
    loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    peakGrowthKb = statusKb("VmHWM") - before;
    return QFileInfo(download->path()).size() == fileSize ? seconds : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTemporaryDir work;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(work.path() + QStringLiteral("/config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(work.path() + QStringLiteral("/data")));
    QCoreApplication::setOrganizationName(QStringLiteral("Tarrowmere"));
    QCoreApplication::setApplicationName(QStringLiteral("KOV Vazuv bench"));

    const QString served = work.path() + QStringLiteral("/served");
    QDir().mkpath(served);
    out() << "writing a 1 GiB file..." << Qt::endl;
    if (!makeFile(served + QStringLiteral("/big.7z"))) {
        out() << "cannot write the test file" << Qt::endl;
        return 1;
    }
    ServerProcess server(served);
    if (server.port() == 0) {
        out() << "cannot start kov-serve" << Qt::endl;
        return 1;
    }

    auto settings = QSharedPointer<KOV::Settings>::create();
    settings->edited().cache.value = work.path() + QStringLiteral("/cache/");
    settings->commit();
    KOV::Managers::DownloadManager manager(settings, QSharedPointer<QNetworkAccessManager>::create());
    const QString url = server.url(QStringLiteral("/big.7z"));
    const QString cached = work.path() + QStringLiteral("/cache/big.7z");
    const QString curlTarget = work.path() + QStringLiteral("/curl.7z");

    // Warm the page cache, then take the best of three runs each, alternating.
    curlSeconds(url, curlTarget);
    double bestCurl = 1e9;
    double bestManager = 1e9;
    qint64 worstGrowthKb = 0;
    for (int run = 0; run < 3; ++run) {
        QFile::remove(curlTarget);
        const double curl = curlSeconds(url, curlTarget);
        QFile::remove(curlTarget);
        QFile::remove(cached);
        qint64 growth = 0;
        const double ours = managerSeconds(manager, url, growth);
        QFile::remove(cached);
        if (curl < 0 || ours < 0) {
            out() << "a transfer failed" << Qt::endl;
            return 1;
        }
        out() << QStringLiteral("run %1: curl %2 s, download manager %3 s, peak growth %4 MiB")
                     .arg(run + 1)
                     .arg(curl, 0, 'f', 2)
                     .arg(ours, 0, 'f', 2)
                     .arg(growth / 1024.0, 0, 'f', 1)
              << Qt::endl;
        bestCurl = qMin(bestCurl, curl);
        bestManager = qMin(bestManager, ours);
        worstGrowthKb = qMax(worstGrowthKb, growth);
    }

    const double mib = fileSize / (1024.0 * 1024.0);
    out() << QStringLiteral("curl: %1 MiB/s").arg(mib / bestCurl, 0, 'f', 0) << Qt::endl;
    out() << QStringLiteral("download manager: %1 MiB/s").arg(mib / bestManager, 0, 'f', 0) << Qt::endl;
    out() << QStringLiteral("peak memory growth during a transfer: %1 MiB (goal: under 64)")
                 .arg(worstGrowthKb / 1024.0, 0, 'f', 1)
          << Qt::endl;
    out() << QStringLiteral("throughput ratio download manager / curl: %1 (goal: at least 0.9)")
                 .arg(bestCurl / bestManager, 0, 'f', 2)
          << Qt::endl;
    return 0;
}
