// Rebuilds the package list for 100 and for 1,000 packages and measures time and memory per tile,
// then the CPU the idle window takes while every tile shows its loading animation.
#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <malloc.h>
#include <sys/resource.h>

#include "app/settings.h"
#include "benchsupport.h"
#include "common/qtawesome.h"
#include "controllers/packagecontroller.h"
#include "controllers/packagefilter.h"
#include "managers/downloadmanager.h"
#include "ui/packagecontainer.h"

using namespace KOVBench;

namespace {

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QString writeCatalogue(const QString &folder, int count, quint16 silentPort)
{
    QJsonArray catalogue;
    for (int id = 1; id <= count; ++id) {
        catalogue.append(QJsonObject {
            { "id", id },
            { "name", QJsonObject { { "en", QStringLiteral("Package %1").arg(id) } } },
            { "short_description", QJsonObject { { "en", QStringLiteral("A package to fill the list, number %1").arg(id) } } },
            // A server that never answers: every tile keeps its loading animation (none without a port).
            { "icon", silentPort ? QStringLiteral("http://127.0.0.1:%1/icon%2.png").arg(silentPort).arg(id) : QString() },
            { "versions", QJsonArray { QJsonObject { { "version", "1.0.0" }, { "link", "http://127.0.0.1:1/a.7z" } } } } });
    }
    const QString path = QStringLiteral("%1/packages-%2.json").arg(folder).arg(count);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(QJsonDocument(catalogue).toJson());
    return path;
}

struct Figures
{
    double msPerTile;
    double kbPerTile;
};

Figures rebuild(KOV::Controllers::PackageController &controller, const QString &catalogue, int count)
{
    // Heap in use with the list empty and with it full, so that reused pages do not blur it.
    controller.parseCatalogue(QStringLiteral("/nonexistent"));
    QCoreApplication::processEvents();
    const qint64 before = qint64(mallinfo2().uordblks);
    QElapsedTimer timer;
    timer.start();
    controller.parseCatalogue(catalogue); // emits update(): the page rebuilds its tiles at once
    const double ms = timer.nsecsElapsed() / 1e6;
    QCoreApplication::processEvents();
    const qint64 after = qint64(mallinfo2().uordblks);
    return { ms / count, double(after - before) / 1024.0 / count };
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    KOV::sharedIcons()->initFontAwesome();
    QTemporaryDir work;

    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost);
    auto settings = settingsIn(work.path());
    settings->edited().showFilter.value = QStringLiteral("false");
    settings->commit();
    auto downloads = QSharedPointer<KOV::Managers::DownloadManager>::create(
        settings, QSharedPointer<QNetworkAccessManager>::create());
    auto controller = QSharedPointer<KOV::Controllers::PackageController>::create(settings, downloads);
    controller->setCatalogueUrl(QStringLiteral("http://127.0.0.1:%1/packages.json").arg(silent.serverPort()));
    controller->openDatabase();

    KOV::Ui::PackageContainer page(controller);
    page.resize(1300, 700);
    page.show();

    const QString small = writeCatalogue(work.path(), 100, silent.serverPort());
    const QString large = writeCatalogue(work.path(), 1000, silent.serverPort());
    // Once each to warm up, then the best of five runs of each.
    rebuild(*controller, small, 100);
    rebuild(*controller, large, 1000);
    Figures hundred { 1e9, 0 };
    Figures thousand { 1e9, 0 };
    for (int run = 0; run < 5; ++run) {
        const Figures a = rebuild(*controller, small, 100);
        const Figures b = rebuild(*controller, large, 1000);
        hundred = { qMin(hundred.msPerTile, a.msPerTile), qMax(hundred.kbPerTile, a.kbPerTile) };
        thousand = { qMin(thousand.msPerTile, b.msPerTile), qMax(thousand.kbPerTile, b.kbPerTile) };
    }

    out() << QStringLiteral("100 tiles: %1 ms per tile, %2 KiB per tile").arg(hundred.msPerTile, 0, 'f', 3).arg(hundred.kbPerTile, 0, 'f', 1)
          << Qt::endl;
    out() << QStringLiteral("1000 tiles: %1 ms per tile, %2 KiB per tile").arg(thousand.msPerTile, 0, 'f', 3).arg(thousand.kbPerTile, 0, 'f', 1)
          << Qt::endl;

    const double start = cpuSeconds();
    QElapsedTimer idle;
    idle.start();
    QEventLoop loop;
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = (cpuSeconds() - start) / (idle.nsecsElapsed() / 1e9);
    out() << QStringLiteral("idle window with 1000 loading tiles: %1 % of one core").arg(cpu * 100, 0, 'f', 1) << Qt::endl;
    // Typing into the search field over 10,000 packages: the filter and the relayout that follows, per
    // keystroke, against a bare case-insensitive search of the same names.
    const QString huge = writeCatalogue(work.path(), 10000, 0);
    controller->parseCatalogue(huge);
    for (int pass = 0; pass < 5; ++pass)
        QCoreApplication::processEvents();
    const QStringList typed { "p", "pa", "pac", "pack", "packa", "package", "package 9", "package 99",
                              "package 999", "number 42", "" };
    QVector<double> keystrokes;
    QVector<double> references;
    for (const QString &text : typed) {
        QElapsedTimer timer;
        timer.start();
        controller->filter()->setText(text);
        QCoreApplication::processEvents();
        keystrokes << timer.nsecsElapsed() / 1e6;
        timer.restart();
        int found = 0;
        for (const auto &package : controller->packages())
            found += package->name().contains(text, Qt::CaseInsensitive) ? 1 : 0;
        references << qMax(timer.nsecsElapsed() / 1e6, 0.001);
        if (found < 0)
            return 1;
    }
    QVector<double> ratios;
    for (int i = 0; i < keystrokes.size(); ++i)
        ratios << keystrokes.at(i) / references.at(i);
    std::sort(keystrokes.begin(), keystrokes.end());
    std::sort(ratios.begin(), ratios.end());
    out() << QStringLiteral("filtering 10000 packages per keystroke: median %1 ms, max %2 ms (goal: under 20 ms); "
                            "%3x a bare search of the names")
                 .arg(keystrokes.at(keystrokes.size() / 2), 0, 'f', 1)
                 .arg(keystrokes.last(), 0, 'f', 1)
                 .arg(ratios.at(ratios.size() / 2), 0, 'f', 1)
          << Qt::endl;
    out() << QStringLiteral("rebuild time growth from 100 to 1000 tiles: %1x (goal: at most 11x)")
                 .arg(thousand.msPerTile * 1000 / (hundred.msPerTile * 100), 0, 'f', 1)
          << Qt::endl;
    return 0;
}
