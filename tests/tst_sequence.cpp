#include <QRandomGenerator>
#include <QtTest>

#include "uifixture.h"

using KOV::Models::Package;

namespace {

const QString sharedFile = QStringLiteral("Resources/default scenery/shared.dat");
const QString earthFile = QStringLiteral("Resources/default data/earth.dat");

// An update whose dependency was uninstalled meanwhile ends as a dependency error.
bool isSettled(Package::State state)
{
    return state == Package::INSTALLED || state == Package::AVAILABLE || state == Package::DEPENDENCY_ERROR;
}

struct PackagePlan
{
    int id;
    QString name;
    QStringList versions; // newest first
    QStringList depends;
    QString backup;
};

} // namespace

/**
 * Installs, updates, rolls back and uninstalls packages in a random order, with packages that
 * preserve user files and back up X-Plane files (two of them the same file), and checks after
 * every step that no edited user file and no original X-Plane file is gone.
 */
class TestSequence final : public QObject
{
    Q_OBJECT
private slots:
    void randomSteps();

private:
    bool settle(KOVTest::UiFixture &fixture);
};

bool TestSequence::settle(KOVTest::UiFixture &fixture)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 30000) {
        bool busy = fixture.controller->isInstalling();
        for (const auto &p : fixture.controller->packages())
            busy = busy || !isSettled(p->state());
        if (!busy)
            return true;
        QTest::qWait(5);
    }
    return false;
}

void TestSequence::randomSteps()
{
    KOVTest::UiFixture fixture;
    const QVector<PackagePlan> plans {
        { 10, "A", { "3.0.0", "2.0.0", "1.0.0" }, {}, sharedFile },
        { 11, "B", { "2.0.0", "1.0.0" }, {}, sharedFile },
        { 12, "C", { "1.1.0", "1.0.0" }, {}, earthFile },
        { 13, "D", { "1.0.0" }, { "10:2.0.0" }, QString() },
    };
    QJsonArray catalogue;
    for (const PackagePlan &plan : plans) {
        const QString folder = "Resources/plugins/" + plan.name;
        const QString settings = folder + "/settings.ini";
        QJsonArray versions;
        for (const QString &version : plan.versions) {
            const QString archive = QStringLiteral("%1-%2.7z").arg(plan.name, version);
            const QString source = fixture.home.path() + "/src/" + archive;
            KOVTest::writeFile(source + "/" + settings, ("shipped by " + plan.name + " " + version).toUtf8());
            KOVTest::writeFile(source + "/" + folder + "/plugin.xpl", version.toUtf8());
            if (!plan.backup.isEmpty())
                KOVTest::writeFile(source + "/" + plan.backup, (plan.name + "'s own " + version).toUtf8());
            QVERIFY(KOVTest::make7z(fixture.home.path() + "/served/" + archive, source));
            QStringList remove { folder };
            if (!plan.backup.isEmpty())
                remove << plan.backup;
            versions.append(QJsonObject {
                { "version", version },
                { "link", fixture.server.url("/" + archive) },
                { "depends", QJsonArray::fromStringList(plan.depends) },
                { "install",
                  QJsonObject {
                      { "extract", "" },
                      { "preserve", QJsonArray { settings } },
                      { "backup", plan.backup.isEmpty() ? QJsonArray() : QJsonArray { plan.backup } } } },
                { "uninstall", QJsonObject { { "remove", QJsonArray::fromStringList(remove) } } } });
        }
        catalogue.append(QJsonObject {
            { "id", plan.id }, { "name", QJsonObject { { "en", plan.name } } }, { "versions", versions } });
    }
    fixture.catalogue = catalogue;
    fixture.publish();

    const QMap<QString, QByteArray> originals { { sharedFile, "X-Plane's shared file" },
                                                { earthFile, "X-Plane's earth" } };
    for (auto it = originals.cbegin(); it != originals.cend(); ++it)
        QVERIFY(KOVTest::writeFile(fixture.xp(it.key()), it.value()));
    QMap<int, QByteArray> userEdits; // package id -> what the user wrote into its settings file

    QRandomGenerator random(2026);
    const int steps = qEnvironmentVariableIntValue("KOV_SEQUENCE_STEPS") > 0
                          ? qEnvironmentVariableIntValue("KOV_SEQUENCE_STEPS")
                          : 300;
    QStringList history;
    for (int step = 0; step < steps; ++step) {
        const PackagePlan &plan = plans.at(random.bounded(plans.size()));
        const auto package = fixture.package(plan.id);
        const QString settings = fixture.xp("Resources/plugins/" + plan.name + "/settings.ini");
        QString action;
        switch (random.bounded(4)) {
        case 0: {
            QString version;
            fixture.controller->installPackage(package, version);
            action = "install " + version;
            break;
        }
        case 1: {
            QString version = plan.versions.at(random.bounded(plan.versions.size()));
            action = "install " + version;
            fixture.controller->installPackage(package, version);
            break;
        }
        case 2:
            action = "uninstall";
            if (package->state() == Package::INSTALLED) {
                // Uninstalling takes the package's files, the user's settings among them, and its
                // dependents'.
                for (const auto &dependent : fixture.controller->dependents(package, QString()))
                    userEdits.remove(dependent->id());
                userEdits.remove(plan.id);
                fixture.controller->uninstallPackage(package);
            }
            break;
        default:
            // The user edits a file while nothing works on it.
            action = "edit settings";
            QVERIFY2(settle(fixture), qPrintable(history.join('\n')));
            if (QFileInfo::exists(settings)) {
                const QByteArray edit = QStringLiteral("edited at step %1").arg(step).toUtf8();
                QVERIFY(KOVTest::writeFile(settings, edit));
                userEdits.insert(plan.id, edit);
            }
            break;
        }
        history << QStringLiteral("%1: %2 %3").arg(step).arg(plan.name, action);
        // Most steps go on while downloads and installations run; a third waits for all of them.
        if (random.bounded(3) != 0)
            continue;
        QVERIFY2(settle(fixture), qPrintable(history.join('\n')));

        for (const auto &p : fixture.controller->packages()) {
            QVERIFY2(isSettled(p->state()), qPrintable(history.join('\n')));
            // The records say what is on disk.
            const bool recorded = fixture.controller->databaseStatus(p) == Package::INSTALLED;
            QVERIFY2(recorded
                         == QFileInfo::exists(
                             fixture.xp("Resources/plugins/" + plans.at(p->id() - 10).name + "/plugin.xpl")),
                     qPrintable(QString::number(p->id()) + " recorded wrongly after\n" + history.join('\n')));
        }
        for (auto it = originals.cbegin(); it != originals.cend(); ++it) {
            const bool inPlace = KOVTest::readFile(fixture.xp(it.key())) == it.value();
            const bool saved = KOVTest::readFile(fixture.home.path() + "/backup/" + it.key()) == it.value();
            QVERIFY2(inPlace || saved, qPrintable(it.key() + " lost after\n" + history.join('\n')));
        }
        for (auto it = userEdits.cbegin(); it != userEdits.cend(); ++it) {
            const QString relative = "Resources/plugins/" + plans.at(it.key() - 10).name + "/settings.ini";
            const bool inPlace = KOVTest::readFile(fixture.xp(relative)) == it.value();
            const bool saved = KOVTest::readFile(fixture.home.path() + "/preserve/" + relative) == it.value();
            QVERIFY2(inPlace || saved, qPrintable(relative + " lost after\n" + history.join('\n')));
        }
    }

    // Once everything is uninstalled, X-Plane has its own files back and nothing is left saved.
    QVERIFY(settle(fixture));
    for (const auto &p : fixture.controller->packages()) {
        if (p->state() == Package::INSTALLED)
            fixture.controller->uninstallPackage(p);
    }
    QVERIFY(settle(fixture));
    for (auto it = originals.cbegin(); it != originals.cend(); ++it) {
        QCOMPARE(KOVTest::readFile(fixture.xp(it.key())), it.value());
        QVERIFY(!QFileInfo::exists(fixture.home.path() + "/backup/" + it.key()));
    }
    qInfo("%d steps", steps);
}

QTEST_MAIN(TestSequence)
#include "tst_sequence.moc"
