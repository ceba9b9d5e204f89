#include <QtTest>

#include "controllers/dependencyresolver.h"
#include "controllers/installqueue.h"

using KOV::Controllers::DependencyResolver;
using KOV::Controllers::InstallQueue;
using KOV::Controllers::PendingInstallation;
using KOV::Models::Package;
using KOV::Models::PackageVersion;

namespace {

// "id/state/versions newest first/dependency entries" -> a package; state I is installed, A available.
QSharedPointer<Package> makePackage(const QString &plan)
{
    const QStringList parts = plan.split(QLatin1Char('/'));
    auto package = QSharedPointer<Package>(new Package);
    package->setId(parts.at(0).toInt());
    package->setState(parts.at(1) == QLatin1String("I") ? Package::INSTALLED : Package::AVAILABLE);
    QVector<QSharedPointer<PackageVersion>> versions;
    for (const QString &number : parts.at(2).split(QLatin1Char(','))) {
        auto version = QSharedPointer<PackageVersion>::create();
        version->version = number;
        version->depends = parts.value(3).isEmpty() ? QStringList() : parts.value(3).split(QLatin1Char(','));
        version->install = QSharedPointer<KOV::Models::InstallInstructions>::create();
        version->uninstall = QSharedPointer<KOV::Models::UninstallInstructions>::create();
        versions << version;
    }
    package->setVersions(versions);
    return package;
}

QString ids(const QVector<QSharedPointer<Package>> &packages)
{
    QStringList list;
    for (const auto &package : packages)
        list << QString::number(package->id());
    return list.join(QLatin1Char(' '));
}

} // namespace

class TestDependencyResolver final : public QObject
{
    Q_OBJECT
private slots:
    void queries_data();
    void queries();
    void queueOrder_data();
    void queueOrder();
    void uninstallationsGoFirst();
};

void TestDependencyResolver::queries_data()
{
    // Packages: "id/state/versions newest first/dependency entries"; installed versions are the last offered.
    QTest::addColumn<QStringList>("catalogue");
    QTest::addColumn<int>("asked");
    QTest::addColumn<QString>("dependencies");
    QTest::addColumn<QString>("dependents");
    QTest::addColumn<QString>("firstToInstall");

    const QStringList base { "1/I/2.0,1.0", "2/A/1.5", "3/I/3.0,2.5/1:2.0", "4/I/1.0/1", "5/I/1.0/9,1:1.0" };
    QTest::newRow("minimum met by the latest, not by the installed") << base << 3 << "1"
                                                                     << ""
                                                                     << "1";
    QTest::newRow("dependents of a library: with and without minimum") << base << 1 << ""
                                                                       << "3 4 5"
                                                                       << "";
    QTest::newRow("entry naming a package not in the catalogue") << base << 5 << "1"
                                                                 << ""
                                                                 << "";
    QTest::newRow("minimum above every offered version")
        << QStringList { "1/A/1.0", "6/A/1.0/1:1.1" } << 6 << ""
        << ""
        << "1";
    QTest::newRow("empty and non-numeric entries resolve to nothing")
        << QStringList { "1/A/1.0", "7/A/1.0/,x:1" } << 7 << ""
        << ""
        << "";
    QTest::newRow("a cycle answers each side once") << QStringList { "8/I/1.0/9", "9/I/1.0/8" } << 8 << "9"
                                                    << "9"
                                                    << "";
    QTest::newRow("self dependency is not its own dependent") << QStringList { "10/I/1.0/10" } << 10 << "10"
                                                              << ""
                                                              << "";
    QTest::newRow("numeric minimum compares as a version, not as text")
        << QStringList { "1/I/1.10,1.9", "11/A/1.0/1:1.10" } << 11 << "1"
        << ""
        << "1";
}

void TestDependencyResolver::queries()
{
    QFETCH(QStringList, catalogue);
    QFETCH(int, asked);
    QFETCH(QString, dependencies);
    QFETCH(QString, dependents);
    QFETCH(QString, firstToInstall);

    QVector<QSharedPointer<Package>> packages;
    for (const QString &plan : catalogue)
        packages << makePackage(plan);
    DependencyResolver resolver([](const QSharedPointer<Package> &package) {
        return package->state() == Package::INSTALLED ? package->versions().last()->version : QString();
    });
    resolver.setPackages(packages);
    const QSharedPointer<Package> package = resolver.find(asked);
    QVERIFY(package);

    QString version;
    QCOMPARE(ids(resolver.dependencies(package, version)), dependencies);
    QCOMPARE(version, package->versions().first()->version);
    QCOMPARE(ids(resolver.dependents(package, QString())), dependents);

    QVector<QSharedPointer<Package>> first;
    for (const QString &entry : package->versions().first()->depends) {
        if (const auto needed = resolver.toInstallFirst(DependencyResolver::parse(entry)))
            first << needed;
    }
    QCOMPARE(ids(first), firstToInstall);
}

void TestDependencyResolver::queueOrder_data()
{
    QTest::addColumn<QStringList>("catalogue");
    QTest::addColumn<QList<int>>("queued");
    QTest::addColumn<QString>("installed"); // order the tasks ran in
    QTest::addColumn<QString>("dropped");

    QTest::newRow("dependency queued after its dependent")
        << QStringList { "1/A/1.0", "2/A/1.0/1" } << QList<int> { 2, 1 } << "1 2"
        << "";
    QTest::newRow("two that need each other: the first queued goes first")
        << QStringList { "1/A/1.0/2", "2/A/1.0/1" } << QList<int> { 2, 1 } << "2 1"
        << "";
    QTest::newRow("cycle of three ends")
        << QStringList { "1/A/1.0/3", "2/A/1.0/1", "3/A/1.0/2" } << QList<int> { 1, 2, 3 } << "1 2 3"
        << "";
    QTest::newRow("missing dependency drops the chain")
        << QStringList { "2/A/1.0/9", "3/A/1.0/2", "4/A/1.0" } << QList<int> { 3, 2, 4 } << "4"
        << "2 3";
    // A dependency being fetched is PREPARING at least: one merely available was uninstalled meanwhile.
    QTest::newRow("an available dependency that nobody queued drops the entry")
        << QStringList { "1/A/1.0", "2/A/1.0/1" } << QList<int> { 2 } << ""
        << "2";
}

void TestDependencyResolver::queueOrder()
{
    QFETCH(QStringList, catalogue);
    QFETCH(QList<int>, queued);
    QFETCH(QString, installed);
    QFETCH(QString, dropped);

    QVector<QSharedPointer<Package>> packages;
    for (const QString &plan : catalogue)
        packages << makePackage(plan);
    DependencyResolver resolver([](const QSharedPointer<Package> &) { return QString(); });
    resolver.setPackages(packages);

    QStringList ran;
    QStringList droppedIds;
    InstallQueue queue(resolver, [&ran](const PendingInstallation &entry) {
        ran << QString::number(entry.package->id());
        return [] {
            return KOV::Controllers::InstallOutcome { true, {}, {}, {}, {} };
        };
    });
    connect(&queue, &InstallQueue::examined, this,
            [&droppedIds](const PendingInstallation &entry, bool drop) {
                if (drop) {
                    entry.package->setState(Package::DEPENDENCY_ERROR);
                    droppedIds << QString::number(entry.package->id());
                }
            });
    connect(&queue, &InstallQueue::finished, this,
            [](const PendingInstallation &entry, const KOV::Controllers::InstallOutcome &outcome) {
                entry.package->setState(outcome.done ? Package::INSTALLED : Package::INSTALL_ERROR);
            });
    for (const int id : queued) {
        const auto package = resolver.find(id);
        package->setState(Package::INSTALLING);
        queue.enqueue({ package, QString(), QStringLiteral("/nowhere.7z") });
        queue.enqueue({ package, QString(), QStringLiteral("/nowhere.7z") }); // queued once
    }
    queue.process();
    QTRY_VERIFY(!queue.isInstalling());
    // Every task that starts ends with the next pass; wait until no pass starts another.
    QTRY_COMPARE(ran.join(QLatin1Char(' ')), installed);
    QVERIFY(!queue.isInstalling());
    droppedIds.sort();
    QCOMPARE(droppedIds.join(QLatin1Char(' ')), dropped);
}

void TestDependencyResolver::uninstallationsGoFirst()
{
    QVector<QSharedPointer<Package>> packages { makePackage("1/A/1.0"), makePackage("2/I/1.0"),
                                                makePackage("3/I/1.0") };
    DependencyResolver resolver([](const QSharedPointer<Package> &) { return QString(); });
    resolver.setPackages(packages);
    QStringList ran;
    InstallQueue queue(resolver, [&ran](const PendingInstallation &entry) {
        ran << (entry.uninstall ? "-" : "+") + QString::number(entry.package->id());
        return [] {
            return KOV::Controllers::InstallOutcome { true, {}, {}, {}, {} };
        };
    });
    queue.enqueue({ packages.at(0), QString(), QStringLiteral("/nowhere.7z") });
    queue.enqueueUninstall({ packages.at(1), QString(), QString() });
    queue.enqueueUninstall({ packages.at(2), QString(), QString() });
    // Already queued: a second uninstallation of the same package is not.
    queue.enqueueUninstall({ packages.at(2), QString(), QString() });
    QVERIFY(queue.contains(3));
    queue.process();
    QTRY_COMPARE(ran.join(QLatin1Char(' ')), QStringLiteral("-2 -3 +1"));
    QTRY_VERIFY(!queue.isInstalling());
}

QTEST_GUILESS_MAIN(TestDependencyResolver)
#include "tst_dependencyresolver.moc"
