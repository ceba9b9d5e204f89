#include <QtTest>

#include <algorithm>
#include <memory>

#include "models/package.h"
#include "models/retiredpackages.h"

using KOV::Models::Package;
using KOV::Models::PackageVersion;
using KOV::Models::RetiredPackages;

static QSharedPointer<Package> packageWithVersions(const QStringList &versions)
{
    auto package = QSharedPointer<Package>(new Package);
    QVector<QSharedPointer<PackageVersion>> list;
    for (const QString &version : versions) {
        auto record = QSharedPointer<PackageVersion>::create();
        record->version = version;
        list << record;
    }
    package->setVersions(list);
    return package;
}

class TestPackage final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Package::registerMetaTypes(); }
    void newPackageIsUnknownAndEmpty();
    void setStateSignalsOnlyChanges();
    void versionIndex_data();
    void versionIndex();
    void stateTravelsQueuedFromWorker();
    void statePrintsByName();
    void retiredPackagesGo_data();
    void retiredPackagesGo();
};

namespace {

QVector<QSharedPointer<Package>> makePackages(int count, QVector<QWeakPointer<Package>> *watched)
{
    QVector<QSharedPointer<Package>> packages;
    for (int i = 0; i < count; ++i) {
        packages << QSharedPointer<Package>::create();
        *watched << packages.last();
    }
    return packages;
}

int living(const QVector<QWeakPointer<Package>> &watched)
{
    return int(
        std::count_if(watched.cbegin(), watched.cend(), [](const auto &weak) { return !weak.isNull(); }));
}

} // namespace

void TestPackage::newPackageIsUnknownAndEmpty()
{
    Package package;
    QCOMPARE(package.state(), Package::UNKNOWN);
    QVERIFY(!package.hasUpdate());
    QVERIFY(package.versions().isEmpty());
    QVERIFY(package.banners().isEmpty());
    QCOMPARE(package.id(), 0);
    for (const QString &text : { package.name(), package.description(), package.icon(), package.type(),
                                 package.shortDescription(), package.manualUrl(), package.helpUrl() })
        QVERIFY(text.isEmpty());
}

void TestPackage::setStateSignalsOnlyChanges()
{
    Package package;
    QSignalSpy spy(&package, &Package::stateChanged);
    package.setState(Package::AVAILABLE);
    package.setState(Package::AVAILABLE);
    package.setState(Package::INSTALLED);
    package.setHasUpdate(true);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).value<Package::State>(), Package::AVAILABLE);
    QCOMPARE(spy.at(1).at(0).value<Package::State>(), Package::INSTALLED);
    QVERIFY(package.hasUpdate());
}

void TestPackage::versionIndex_data()
{
    QTest::addColumn<QStringList>("versions");
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("index");
    const QStringList three { "1.2", "1.1", "1.0" };
    QTest::newRow("empty version") << three << "" << 0;
    QTest::newRow("not offered") << three << "3.0" << 0;
    QTest::newRow("oldest") << three << "1.0" << 2;
    QTest::newRow("string, not number, comparison") << three << "1.10" << 0;
    QTest::newRow("two equal strings give the first") << QStringList { "2.0", "1.5", "1.5" } << "1.5" << 1;
    QTest::newRow("no versions at all") << QStringList() << "1.0" << 0;
}

void TestPackage::versionIndex()
{
    QFETCH(QStringList, versions);
    QFETCH(QString, version);
    QFETCH(int, index);
    QCOMPARE(KOV::Models::versionIndex(packageWithVersions(versions), version), index);
}

void TestPackage::stateTravelsQueuedFromWorker()
{
    Package::registerMetaTypes();
    Package package;
    QVector<Package::State> received;
    QObject receiver;
    connect(&package, &Package::stateChanged, &receiver, [&](Package::State state) {
        QCOMPARE(QThread::currentThread(), qApp->thread());
        received << state;
    });
    QThread *worker = QThread::create([&package] {
        package.setState(Package::INSTALLING);
        package.setState(Package::INSTALLED);
        package.setHasUpdate(true);
    });
    worker->start();
    QVERIFY(worker->wait(10000));
    delete worker;
    QTRY_COMPARE(received.size(), 2);
    QCOMPARE(received, QVector<Package::State>({ Package::INSTALLING, Package::INSTALLED }));
    QVERIFY(package.hasUpdate());
    QCOMPARE(QMetaType::type("State"), qMetaTypeId<Package::State>());
}

void TestPackage::statePrintsByName()
{
    QString text;
    QDebug(&text) << Package::DEPENDENCY_ERROR;
    QVERIFY2(text.contains(QStringLiteral("DEPENDENCY_ERROR")), qPrintable(text));
    QCOMPARE(int(Package::UNKNOWN), 9);
    QCOMPARE(int(Package::DOWNLOAD_ERROR), 7);
}

void TestPackage::retiredPackagesGo_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("then");
    const int slice = RetiredPackages::sliceSize;
    QTest::newRow("a slice per turn") << 2 * slice + 1 << "turns";
    QTest::newRow("less than a slice") << 3 << "turns";
    QTest::newRow("a second list lets the first go at once") << slice + 1 << "retire again";
    QTest::newRow("released when the holder goes") << slice + 1 << "destroy";
    QTest::newRow("a package held elsewhere stays") << slice + 1 << "hold one";
}

void TestPackage::retiredPackagesGo()
{
    QFETCH(int, count);
    QFETCH(QString, then);
    QVector<QWeakPointer<Package>> watched;
    auto retired = std::make_unique<RetiredPackages>();
    QVector<QSharedPointer<Package>> packages = makePackages(count, &watched);
    const QSharedPointer<Package> held = then == QLatin1String("hold one") ? packages.last() : nullptr;
    retired->retire(std::move(packages));
    // Nothing goes before the event loop turns.
    QCOMPARE(living(watched), count);
    QCOMPARE(retired->waiting(), count);
    if (then == QLatin1String("retire again")) {
        QVector<QWeakPointer<Package>> second;
        retired->retire(makePackages(2, &second));
        QCOMPARE(living(watched), 0);
        QCOMPARE(living(second), 2);
        QCOMPARE(retired->waiting(), 2);
        return;
    }
    if (then == QLatin1String("destroy")) {
        retired.reset();
        QCOMPARE(living(watched), 0);
        return;
    }
    // A turn of the event loop takes one slice, the first packages first.
    QCoreApplication::processEvents();
    const int left = qMax(0, count - RetiredPackages::sliceSize);
    QCOMPARE(living(watched), left + (held && left == 0 ? 1 : 0));
    QVERIFY(watched.first().isNull());
    QTRY_COMPARE(retired->waiting(), 0);
    QCOMPARE(living(watched), held ? 1 : 0);
    if (held)
        QVERIFY(!watched.last().isNull());
}

QTEST_MAIN(TestPackage)
#include "tst_package.moc"
