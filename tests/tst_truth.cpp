// What the tile and the detail page say of a package agrees with packages.db and the disk: after an
// installation, a cancelled or failed first download, a failed update, an uninstallation, and a restart.

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlQuery>
#include <QtTest>

#include "ui/packagedetailtitlebar.h"
#include "ui/packagewidget.h"
#include "uifixture.h"

using KOV::Models::Package;

namespace {

QString installedLabel(QWidget &tile)
{
    for (QLabel *label : tile.findChildren<QLabel *>()) {
        if (label->text().startsWith(QStringLiteral("Installed : ")))
            return label->text().mid(12);
    }
    return QStringLiteral("(no label)");
}

QStringList shownButtons(QWidget &bar)
{
    QStringList texts;
    for (QPushButton *button : bar.findChildren<QPushButton *>()) {
        if (button->isVisibleTo(&bar))
            texts << button->text();
    }
    return texts;
}

} // namespace

class TestTruth final : public QObject
{
    Q_OBJECT
private slots:
    void labelsAgreeWithTheRecords_data();
    void labelsAgreeWithTheRecords();
};

void TestTruth::labelsAgreeWithTheRecords_data()
{
    QTest::addColumn<QString>("story");
    QTest::addColumn<int>("state"); // where the package ends
    QTest::addColumn<QString>("installed"); // the version shown and on record as installed; "" for none
    QTest::addColumn<QString>("reason"); // the failure the box tells, after its first line
    QTest::newRow("installed") << "install" << int(Package::INSTALLED) << "1.0" << QString();
    QTest::newRow("first download cancelled") << "cancel" << int(Package::AVAILABLE) << QString() << QString();
    QTest::newRow("first download failed") << "fail" << int(Package::DOWNLOAD_ERROR) << QString()
                                           << "Version 2.0: the server answered 404 Not Found.";
    QTest::newRow("update failed") << "update fails" << int(Package::INSTALL_ERROR) << "1.0"
                                   << "Version 2.0: The archive is damaged.";
    QTest::newRow("uninstalled") << "uninstall" << int(Package::AVAILABLE) << QString() << QString();
}

void TestTruth::labelsAgreeWithTheRecords()
{
    QFETCH(QString, story);
    QFETCH(int, state);
    QFETCH(QString, installed);
    QFETCH(QString, reason);
    auto fixture = QSharedPointer<KOVTest::UiFixture>::create();
    fixture->addPackage(5, "Five", { "2.0", "1.0" });
    fixture->publish();
    auto package = fixture->package(5);
    KOVTest::ModalAnswerer answerer;
    {
        KOV::Ui::PackageWidget tile(fixture->controller, package);
        KOV::Ui::PackageDetailTitleBar bar(fixture->controller);
        bar.setPackage(package);
        tile.show();
        bar.show();
        const auto wait = [&](Package::State until) {
            QTRY_COMPARE_WITH_TIMEOUT(package->state(), until, 20000);
            QTRY_VERIFY(!fixture->controller->isInstalling());
        };
        QString version = "1.0";
        if (story == "install" || story == "update fails" || story == "uninstall") {
            fixture->controller->installPackage(package, version);
            wait(Package::INSTALLED);
        }
        if (story == "cancel") {
            KOVTest::HttpServer::Behaviour slow;
            slow.trickleBytes = 16;
            slow.trickleIntervalMs = 50;
            fixture->server.setBehaviour("/p5-2.0.7z", slow);
            QString newest;
            fixture->controller->installPackage(package, newest);
            QTRY_COMPARE_WITH_TIMEOUT(package->state(), Package::DOWNLOADING, 10000);
            QCOMPARE(installedLabel(tile), QString());
            fixture->controller->cancel(package);
        } else if (story == "fail") {
            KOVTest::HttpServer::Behaviour gone;
            gone.errorStatus = 404;
            fixture->server.setBehaviour("/p5-2.0.7z", gone);
            QString newest;
            fixture->controller->installPackage(package, newest);
            wait(Package::DOWNLOAD_ERROR);
        } else if (story == "update fails") {
            QVERIFY(KOVTest::writeFile(fixture->home.path() + "/served/p5-2.0.7z", "not an archive"));
            QString newest;
            fixture->controller->installPackage(package, newest);
            wait(Package::INSTALL_ERROR);
        } else if (story == "uninstall") {
            fixture->controller->uninstallPackage(package);
            wait(Package::AVAILABLE);
        }
        QCOMPARE(int(package->state()), state);
        // What is shown ...
        QCOMPARE(installedLabel(tile), installed);
        // ... is what the records say ...
        QCOMPARE(fixture->controller->databaseStatus(package) == Package::INSTALLED, !installed.isEmpty());
        if (installed.isEmpty())
            QCOMPARE(fixture->controller->databaseVersion(package), QString());
        // ... and what is on disk.
        QCOMPARE(QFileInfo::exists(fixture->xp("Resources/plugins/P5/file.txt")), !installed.isEmpty());
        if (!installed.isEmpty())
            QCOMPARE(KOVTest::readFile(fixture->xp("Resources/plugins/P5/file.txt")), ("Five " + installed).toUtf8());
        // A failed update keeps what the installed version offers beside Retry.
        const QStringList buttons = shownButtons(bar);
        QCOMPARE(buttons.contains(QStringLiteral("Uninstall")), !installed.isEmpty());
        QCOMPARE(buttons.contains(QStringLiteral("Verify")), !installed.isEmpty());
        QCOMPARE(buttons.contains(QStringLiteral("Retry")), !reason.isEmpty());
        if (!reason.isEmpty()) {
            QTRY_VERIFY(!answerer.seen().isEmpty());
            QVERIFY2(answerer.seen().first().endsWith("Five\n\n" + reason), qPrintable(answerer.seen().first()));
        }
    }
    // A restart reads the same from packages.db and the folder: a new controller on the same data.
    package.reset();
    fixture->controller.reset();
    fixture->controller = QSharedPointer<KOV::Controllers::PackageController>::create(fixture->settings, fixture->downloads);
    fixture->controller->setCatalogueUrl(fixture->server.url("/packages.json"));
    fixture->controller->loadCatalogue();
    QSignalSpy list(fixture->controller.data(), &KOV::Controllers::PackageController::list);
    QVERIFY(list.count() > 0 || list.wait(10000));
    package = fixture->package(5);
    KOV::Ui::PackageWidget tile(fixture->controller, package);
    QCOMPARE(installedLabel(tile), installed);
    QCOMPARE(package->state(), installed.isEmpty() ? Package::AVAILABLE : Package::INSTALLED);
}

QTEST_MAIN(TestTruth)
#include "tst_truth.moc"
