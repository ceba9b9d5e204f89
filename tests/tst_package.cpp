#include <QtTest>

#include "models/package.h"

using KOV::Models::Package;
using KOV::Models::PackageVersion;

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
};

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

QTEST_MAIN(TestPackage)
#include "tst_package.moc"
