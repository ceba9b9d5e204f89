// Fetches a 1 GiB file from the loopback server with the download manager and with curl,
// and compares throughput; also reports how much memory the program grew by meanwhile.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>

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
    const QString cached = work.path() + QStringLiteral("/cache/")
                           + KOV::Models::Download::fileNameForUrl(QUrl(url, QUrl::TolerantMode));
    const QString curlTarget = work.path() + QStringLiteral("/curl.7z");

    // One warm-up of each side (it also fills the page cache), then five pairs in alternating order; the
    // figure is the median of the per-pair ratios, so that it never divides times of different runs.
    qint64 growth = 0;
    QFile::remove(curlTarget);
    if (curlSeconds(url, curlTarget) < 0 || managerSeconds(manager, url, growth) < 0) {
        out() << "a transfer failed" << Qt::endl;
        return 1;
    }
    QFile::remove(curlTarget);
    QFile::remove(cached);
    QVector<double> ratios;
    qint64 worstGrowthKb = 0;
    const double mib = fileSize / (1024.0 * 1024.0);
    for (int run = 0; run < 5; ++run) {
        const bool curlFirst = run % 2 == 0;
        double curl = 0;
        double ours = 0;
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) == curlFirst) {
                curl = curlSeconds(url, curlTarget);
                QFile::remove(curlTarget);
            } else {
                ours = managerSeconds(manager, url, growth);
                // A transfer that did not happen would measure nothing.
                if (QFileInfo(cached).size() != fileSize)
                    ours = -1;
                QFile::remove(cached);
                worstGrowthKb = qMax(worstGrowthKb, growth);
            }
        }
        if (curl < 0 || ours < 0) {
            out() << "a transfer failed" << Qt::endl;
            return 1;
        }
        ratios << curl / ours;
        out() << QStringLiteral("run %1: curl %2 MiB/s, download manager %3 MiB/s, ratio %4, peak growth %5 MiB")
                     .arg(run + 1)
                     .arg(mib / curl, 0, 'f', 0)
                     .arg(mib / ours, 0, 'f', 0)
                     .arg(curl / ours, 0, 'f', 2)
                     .arg(growth / 1024.0, 0, 'f', 1)
              << Qt::endl;
    }
    std::sort(ratios.begin(), ratios.end());
    out() << QStringLiteral("peak memory growth during a transfer: %1 MiB (goal: under 64)")
                 .arg(worstGrowthKb / 1024.0, 0, 'f', 1)
          << Qt::endl;
    out() << QStringLiteral("throughput ratio download manager / curl: median %1, min %2, max %3 (goal: at least 0.9)")
                 .arg(ratios.at(2), 0, 'f', 2)
                 .arg(ratios.first(), 0, 'f', 2)
                 .arg(ratios.last(), 0, 'f', 2)
          << Qt::endl;
    return 0;
}
