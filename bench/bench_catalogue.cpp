// Reads a catalogue of 1,000 and of 10,000 packages the way the program does (parse, merge with the
// installed state of packages.db, a tenth of them installed, and replace the list read before) against a
// bare QJsonDocument::fromJson of the same bytes, paired: warm-ups of each, then five pairs in
// alternating order. As in the program, the replaced list is let go of in slices by the event loop after
// the read; that is timed on its own, as fromJson's document is freed after its timer stops. Then the longest
// pause of the event loop while the 10,000 packages load from the loopback server (one warm-up, five
// measured), against reading them at once.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <sys/resource.h>

#include "app/settings.h"
#include "benchsupport.h"
#include "controllers/packagecontroller.h"
#include "managers/downloadmanager.h"
#include "managers/minisign.h"

using namespace KOVBench;
using KOV::Models::Package;

namespace {

QString writeCatalogue(const QString &folder, int count)
{
    QJsonArray catalogue;
    for (int id = 1; id <= count; ++id) {
        QJsonArray versions;
        for (const char *version : { "2.0.0", "1.0.0" })
            versions.append(QJsonObject {
                { "version", version },
                { "link", QStringLiteral("http://127.0.0.1:1/p%1-%2.7z").arg(id).arg(version) },
                { "depends", QJsonArray { id > 1 ? QStringLiteral("1:1.0.0") : QString() } },
                { "log", QJsonArray { "Faster", "Smaller" } },
                { "install", QJsonObject { { "extract", QStringLiteral("Resources/plugins/P%1").arg(id) } } },
                { "uninstall",
                  QJsonObject {
                      { "remove", QJsonArray { QStringLiteral("Resources/plugins/P%1").arg(id) } } } } });
        catalogue.append(QJsonObject {
            { "id", id },
            { "type", "PLUGIN" },
            { "name", QJsonObject { { "en", QStringLiteral("Package %1").arg(id) },
                                    { "de", QStringLiteral("Paket %1").arg(id) } } },
            { "short_description",
              QJsonObject {
                  { "en", QStringLiteral("A package to fill the catalogue, number %1").arg(id) } } },
            { "description",
              QJsonObject { { "en", QStringLiteral("<p>The package number <b>%1</b>.</p>").arg(id) } } },
            { "icon", QStringLiteral("http://127.0.0.1:1/icon%1.png").arg(id) },
            { "versions", versions } });
    }
    const QString path = QStringLiteral("%1/packages-%2.json").arg(folder).arg(count);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(QJsonDocument(catalogue).toJson());
    return path;
}

// Writing a buffer far larger than the processor's caches before a run makes it start as a reload does,
// minutes after the last: with warm caches the 1,000 packages of the run before are still there.
bool coldRuns = false;

void coolCaches()
{
    static QByteArray buffer(256 << 20, '\0');
    if (!coldRuns)
        return;
    for (int i = 0; i < buffer.size(); i += 64)
        ++buffer.data()[i];
}

long minorFaults()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Fresh pages the last run of each side took: on a virtual machine each can cost tens of microseconds.
long bareFaults = 0;
long oursFaults = 0;

double bare(const QString &path)
{
    coolCaches();
    const long faults = minorFaults();
    QElapsedTimer timer;
    timer.start();
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    const double ms = timer.nsecsElapsed() / 1e6;
    bareFaults = minorFaults() - faults;
    return document.isArray() ? ms : -1;
}

// The last package of the list being replaced: the controller lets go of it with the last slice.
QWeakPointer<Package> lastRetired;

void retireCurrent(const KOV::Controllers::PackageController &controller)
{
    lastRetired = controller.packages().isEmpty() ? QSharedPointer<Package>() : controller.packages().last();
}

// Turns the event loop until the replaced list is gone, calling `afterTurn` after each turn; returns how
// long that took.
double releaseRetired(const std::function<void()> &afterTurn = {})
{
    QElapsedTimer timer;
    timer.start();
    for (int turn = 0; !lastRetired.isNull() && turn < 1000000; ++turn) {
        QCoreApplication::processEvents();
        if (afterTurn)
            afterTurn();
    }
    return lastRetired.isNull() ? timer.nsecsElapsed() / 1e6 : -1;
}

double released = 0; // what the last read's replaced list took to let go of

double ours(KOV::Controllers::PackageController &controller, const QString &path, int count)
{
    if (releaseRetired() < 0)
        return -1;
    retireCurrent(controller);
    coolCaches();
    const long faults = minorFaults();
    QElapsedTimer timer;
    timer.start();
    controller.parseCatalogue(path);
    const double ms = timer.nsecsElapsed() / 1e6;
    oursFaults = minorFaults() - faults;
    released = releaseRetired();
    return controller.packages().size() == count && released >= 0 ? ms : -1;
}

struct Figure
{
    double median;
    double min;
    double max;
    double oursMs;
    double bareMs;
    double releasedMs;
};

Figure measure(KOV::Controllers::PackageController &controller, const QString &path, int count)
{
    // Two warm-ups of ours: from the first measured run on, each read replaces a list of its own size.
    if (bare(path) < 0 || ours(controller, path, count) < 0 || ours(controller, path, count) < 0)
        return { -1, -1, -1, -1, -1, -1 };
    QVector<double> ratios;
    QVector<double> times;
    QVector<double> references;
    QVector<double> releases;
    for (int run = 0; run < 5; ++run) {
        const bool bareFirst = run % 2 == 0;
        const double first = bareFirst ? bare(path) : ours(controller, path, count);
        const double second = bareFirst ? ours(controller, path, count) : bare(path);
        const double reference = bareFirst ? first : second;
        const double measured = bareFirst ? second : first;
        if (reference < 0 || measured < 0)
            return { -1, -1, -1, -1, -1, -1 };
        ratios << measured / reference;
        times << measured;
        references << reference;
        releases << released;
        out() << QStringLiteral("  %1 packages%2, run %3: fromJson %4 ms (%5 page faults), parse and merge "
                                "%6 ms (%7), ratio %8; the replaced list let go of in %9 ms")
                     .arg(count)
                     .arg(coldRuns ? QStringLiteral(", caches cooled") : QString())
                     .arg(run + 1)
                     .arg(reference, 0, 'f', 1)
                     .arg(bareFaults)
                     .arg(measured, 0, 'f', 1)
                     .arg(oursFaults)
                     .arg(measured / reference, 0, 'f', 2)
                     .arg(released, 0, 'f', 1)
              << Qt::endl;
    }
    std::sort(ratios.begin(), ratios.end());
    std::sort(times.begin(), times.end());
    std::sort(references.begin(), references.end());
    std::sort(releases.begin(), releases.end());
    return { ratios.at(2), ratios.first(), ratios.last(), times.at(2), references.at(2), releases.at(2) };
}

// The longest time between two ticks of a 5 ms timer while the catalogue downloads, is read and applied,
// and the list it replaces is let go of.
double longestGap(KOV::Controllers::PackageController &controller, int count)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 longest = 0;
    auto tick = [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = qMax(longest, now - last);
        last = now;
    };
    retireCurrent(controller);
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, tick);
    QEventLoop loop;
    QObject::connect(&controller, &KOV::Controllers::PackageController::list, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    ticker.start();
    controller.loadCatalogue();
    loop.exec();
    tick(); // the stretch that applied the list
    // The replaced list goes in slices after that, one per turn of the event loop: part of the load too.
    const bool gone = releaseRetired(tick) >= 0;
    return controller.packages().size() == count && gone ? longest / 1e6 : -1;
}

// The signature's cost: reading the signed catalogue with its key trusted against reading it with none,
// paired and alternating; and the checks alone, one after the other.
struct SignatureFigure
{
    double median;
    double checkedMs;
    double plainMs;
    double sequentialMs;
};

SignatureFigure signatureCost(KOV::Controllers::PackageController &controller, const QString &path, int count,
                              const QString &trustFolder)
{
    using KOV::Managers::Minisign;
    QByteArray seed;
    Minisign::PublicKey key;
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray document = file.readAll();
    const QDateTime expires = QDateTime::currentDateTimeUtc().addDays(30);
    if (!Minisign::generate(&seed, &key))
        return { -1, -1, -1, -1 };
    QFile signature(path + QStringLiteral(".minisig"));
    signature.open(QIODevice::WriteOnly);
    signature.write(Minisign::sign(document, seed, key.id,
                                   "serial=1 expires=" + expires.toString(Qt::ISODate).toLatin1()));
    signature.close();
    controller.setTrustFolder(trustFolder);
    const auto checked = [&] {
        controller.setTrustedKeys({ key });
        const double ms = ours(controller, path, count);
        return controller.isCatalogueVerified() ? ms : -1;
    };
    const auto plain = [&] {
        controller.setTrustedKeys({});
        return ours(controller, path, count);
    };
    // Warm-ups: the first checked read also keeps its copy, which later reads of the same catalogue do not.
    if (checked() < 0 || plain() < 0)
        return { -1, -1, -1, -1 };
    QVector<double> extra;
    QVector<double> checkedTimes;
    QVector<double> plainTimes;
    for (int run = 0; run < 5; ++run) {
        const bool plainFirst = run % 2 == 0;
        const double first = plainFirst ? plain() : checked();
        const double second = plainFirst ? checked() : plain();
        const double withKey = plainFirst ? second : first;
        const double without = plainFirst ? first : second;
        if (withKey < 0 || without < 0)
            return { -1, -1, -1, -1 };
        extra << (withKey - without) / without;
        checkedTimes << withKey;
        plainTimes << without;
        out() << QStringLiteral("  %1 packages signed, run %2: read unchecked %3 ms, checked %4 ms, cost %5 %")
                     .arg(count)
                     .arg(run + 1)
                     .arg(without, 0, 'f', 1)
                     .arg(withKey, 0, 'f', 1)
                     .arg(100 * (withKey - without) / without, 0, 'f', 1)
              << Qt::endl;
    }
    QElapsedTimer timer;
    timer.start();
    Minisign::Signature parsed;
    Minisign::parseSignature(Minisign::sign(document, seed, key.id, "serial=1 expires=2030-01-01T00:00:00Z"), &parsed);
    timer.restart();
    const bool valid = Minisign::verify(document, parsed, { key }) == Minisign::Check::Valid;
    const double sequential = timer.nsecsElapsed() / 1e6;
    controller.setTrustedKeys({});
    std::sort(extra.begin(), extra.end());
    std::sort(checkedTimes.begin(), checkedTimes.end());
    std::sort(plainTimes.begin(), plainTimes.end());
    return { extra.at(2), checkedTimes.at(2), plainTimes.at(2), valid ? sequential : -1 };
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    Package::registerMetaTypes();
    QTemporaryDir work;
    auto settings = settingsIn(work.path());
    settings->commit();
    auto downloads = QSharedPointer<KOV::Managers::DownloadManager>::create(
        settings, QSharedPointer<QNetworkAccessManager>::create());
    KOV::Controllers::PackageController controller(settings, downloads);
    controller.openDatabase();

    const QString small = writeCatalogue(work.path(), 1000);
    const QString large = writeCatalogue(work.path(), 10000);
    // A tenth of the packages installed, in the older version: each one then has an update.
    controller.parseCatalogue(large);
    for (const QSharedPointer<Package> &package : controller.packages()) {
        if (package->id() % 10 == 0) {
            package->setState(Package::INSTALLED);
            controller.saveState(package, QStringLiteral("1.0.0"));
        }
    }

    const Figure thousand = measure(controller, small, 1000);
    const Figure tenThousand = measure(controller, large, 10000);
    coldRuns = true;
    const Figure coldThousand = measure(controller, small, 1000);
    const Figure coldTenThousand = measure(controller, large, 10000);
    coldRuns = false;
    const SignatureFigure signature = signatureCost(controller, large, 10000, work.path() + QStringLiteral("/trust/"));
    QFile::remove(large + QStringLiteral(".minisig"));
    ServerProcess server(work.path());
    controller.setCatalogueUrl(server.url(QStringLiteral("/packages-10000.json")));
    // The first load of the process also sets Qt's network access up; it is the warm-up, told on its own.
    const double firstGap = longestGap(controller, 10000);
    ours(controller, large, 10000);
    QVector<double> gaps;
    QVector<double> atOnce;
    for (int run = 0; run < 5; ++run) {
        gaps << longestGap(controller, 10000);
        atOnce << ours(controller, large, 10000);
    }
    std::sort(gaps.begin(), gaps.end());
    std::sort(atOnce.begin(), atOnce.end());
    if (thousand.median < 0 || tenThousand.median < 0 || coldThousand.median < 0 || coldTenThousand.median < 0
        || server.port() == 0 || gaps.first() < 0 || firstGap < 0 || signature.median < -0.5
        || signature.sequentialMs < 0) {
        out() << "a catalogue could not be read" << Qt::endl;
        return 1;
    }
    out() << QStringLiteral("1000 packages: parse and merge / fromJson: median %1 (min %2, max %3)")
                 .arg(thousand.median, 0, 'f', 2)
                 .arg(thousand.min, 0, 'f', 2)
                 .arg(thousand.max, 0, 'f', 2)
          << Qt::endl;
    out() << QStringLiteral(
                 "growth from 1000 to 10000 packages: parse and merge %1x, fromJson %2x (linear: 10x)")
                 .arg(tenThousand.oursMs / thousand.oursMs, 0, 'f', 1)
                 .arg(tenThousand.bareMs / thousand.bareMs, 0, 'f', 1)
          << Qt::endl;
    out() << QStringLiteral("the replaced list let go of in slices afterwards: 1000 packages %1 ms, 10000 "
                            "packages %2 ms (%3x)")
                 .arg(thousand.releasedMs, 0, 'f', 1)
                 .arg(tenThousand.releasedMs, 0, 'f', 1)
                 .arg(tenThousand.releasedMs / thousand.releasedMs, 0, 'f', 1)
          << Qt::endl;
    out() << QStringLiteral(
                 "growth with the caches cooled before each run: parse and merge %1x, fromJson %2x")
                 .arg(coldTenThousand.oursMs / coldThousand.oursMs, 0, 'f', 1)
                 .arg(coldTenThousand.bareMs / coldThousand.bareMs, 0, 'f', 1)
          << Qt::endl;
    out() << QStringLiteral(
                 "longest event-loop pause while 10000 packages load: median %1 ms of 5 (min %2, max %3; "
                 "goal: under 50 ms); the process's first load: %4 ms; read at once on the interface "
                 "thread: %5 ms; ratio %6")
                 .arg(gaps.at(2), 0, 'f', 1)
                 .arg(gaps.first(), 0, 'f', 1)
                 .arg(gaps.last(), 0, 'f', 1)
                 .arg(firstGap, 0, 'f', 1)
                 .arg(atOnce.at(2), 0, 'f', 1)
                 .arg(gaps.at(2) / atOnce.at(2), 0, 'f', 2)
          << Qt::endl;
    out() << QStringLiteral("10000 packages signed: checking the signature costs %1 % of reading them (median; "
                            "read %2 ms unchecked, %3 ms checked; the hash and both signatures alone, one after "
                            "the other: %4 ms, %5 %) (goal: at most 5 %)")
                 .arg(100 * signature.median, 0, 'f', 1)
                 .arg(signature.plainMs, 0, 'f', 1)
                 .arg(signature.checkedMs, 0, 'f', 1)
                 .arg(signature.sequentialMs, 0, 'f', 1)
                 .arg(100 * signature.sequentialMs / signature.plainMs, 0, 'f', 1)
          << Qt::endl;
    out() << QStringLiteral(
                 "10000 packages: parse and merge / fromJson: median %1 (min %2, max %3) (goal: at most 2)")
                 .arg(tenThousand.median, 0, 'f', 2)
                 .arg(tenThousand.min, 0, 'f', 2)
                 .arg(tenThousand.max, 0, 'f', 2)
          << Qt::endl;
    return 0;
}
