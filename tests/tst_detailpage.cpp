#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include "components/inerthtmlview.h"
#include "common/qtawesome.h"
#include "components/carousel.h"
#include "ui/packagedetailoldversionslist.h"
#include "ui/packagedetailoldversionwidget.h"
#include "ui/packagedetailtitlebar.h"
#include "ui/packagedetailwidget.h"
#include "uifixture.h"

using KOV::Components::Carousel;
using KOV::Models::Package;
using KOV::Ui::PackageDetailOldVersionsList;
using KOV::Ui::PackageDetailOldVersionWidget;
using KOV::Ui::PackageDetailTitleBar;
using KOVTest::ModalAnswerer;

namespace {

// The bar's buttons in layout order: install, uninstall, help, manual.
QList<QPushButton *> barButtons(PackageDetailTitleBar &bar)
{
    return bar.findChildren<QPushButton *>();
}

QStringList rows(PackageDetailOldVersionsList &list)
{
    QStringList texts;
    QListWidget *widget = list.list();
    for (int row = 0; row < widget->count(); ++row) {
        auto *line = qobject_cast<PackageDetailOldVersionWidget *>(widget->itemWidget(widget->item(row)));
        texts << line->findChild<QLabel *>()->text() + ":" + line->button()->text()
                     + (line->button()->isEnabled() ? "" : " (disabled)");
    }
    return texts;
}

QImage solidImage(const QColor &colour)
{
    QImage image(64, 32, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

} // namespace

class TestDetailPage final : public QObject
{
    Q_OBJECT
private slots:
    void bannerLeavesRoomForTabs_data();
    void bannerLeavesRoomForTabs();
    void initTestCase() { KOV::sharedIcons()->initFontAwesome(); }
    void showPackageFillsThePage();
    void downloadingPackageShowsItsTotal();
    void verifyAndRepair();
    void barFollowsState_data();
    void barFollowsState();
    void uninstallBox_data();
    void uninstallBox();
    void oldVersions();
    void olderVersionOfInstalledPackage();
    void carouselWrapsAndKeepsPictures();
    void carouselIgnoresReplacedList();
    void carouselRetriesAFewTimes();
};

void TestDetailPage::showPackageFillsThePage()
{
    KOVTest::UiFixture fixture;
    fixture.addPackage(5, "Five", { "2.0", "1.0" }, {}, { fixture.server.url("/b1.png") });
    fixture.addPackage(6, "Six", { "1.0" });
    fixture.publish();
    KOV::Ui::PackageDetailWidget page(fixture.controller);
    page.showPackage(fixture.package(5));
    QVERIFY(page.isVisible());
    auto *tabs = page.findChild<QTabWidget *>();
    QCOMPARE(tabs->count(), 3);
    QCOMPARE(tabs->tabText(2), QStringLiteral("Old versions"));
    QVERIFY(page.findChild<Carousel *>()->isVisibleTo(&page));
    const auto *description = page.findChild<KOV::Components::InertHtmlView *>("DetailDescription");
    QCOMPARE(description->toPlainText(), QStringLiteral("Five"));
    QVERIFY(description->toHtml().contains("font-weight:600"));
    QCOMPARE(page.findChild<KOV::Components::InertHtmlView *>("DetailChangeLog")->toPlainText(),
             QStringLiteral("2.0\nchanges of 2.0\n1.0\nchanges of 1.0"));

    // A version without lines, and a package without banners.
    fixture.package(6)->versions().first()->log.clear();
    tabs->setCurrentIndex(2);
    page.showPackage(fixture.package(6));
    QCOMPARE(tabs->currentIndex(), 0);
    QVERIFY(!page.findChild<Carousel *>()->isVisibleTo(&page));
    QCOMPARE(KOV::Ui::PackageDetailWidget::changeLogDocument(fixture.package(6)),
             QStringLiteral("<strong>1.0</strong><p>Not available></p>"));

    QSignalSpy list(fixture.controller.data(), &KOV::Controllers::PackageController::list);
    page.findChild<QPushButton *>(QStringLiteral("BackButton"))->click();
    QCOMPARE(list.count(), 1);
}

void TestDetailPage::downloadingPackageShowsItsTotal()
{
    KOVTest::UiFixture fixture;
    QByteArray big(2 * 1024 * 1024, 'x');
    fixture.addPackage(5, "Five", { "1.0" });
    KOVTest::writeFile(fixture.home.path() + "/src/big/big.bin", big);
    KOVTest::make7z(fixture.home.path() + "/served/p5-1.0.7z", fixture.home.path() + "/src/big", { "-mx=0" });
    fixture.publish();
    KOVTest::HttpServer::Behaviour slow;
    slow.trickleBytes = 16 * 1024;
    slow.trickleIntervalMs = 20;
    fixture.server.setBehaviour("/p5-1.0.7z", slow);
    const auto package = fixture.package(5);
    QString version;
    fixture.controller->installPackage(package, version);
    QTRY_COMPARE_WITH_TIMEOUT(package->state(), Package::DOWNLOADING, 10000);

    PackageDetailTitleBar bar(fixture.controller);
    bar.show();
    bar.setPackage(package);
    auto *progress = bar.findChild<QProgressBar *>();
    QVERIFY(progress->isVisible());
    const qlonglong total = QFileInfo(fixture.home.path() + "/served/p5-1.0.7z").size();
    QCOMPARE(progress->maximum(), int(total / 1000));
    // The one action left is stopping the transfer.
    QVERIFY(barButtons(bar).at(0)->isVisible() && !barButtons(bar).at(1)->isVisible());
    QCOMPARE(barButtons(bar).at(0)->text(), QStringLiteral("Cancel"));
    QTRY_VERIFY_WITH_TIMEOUT(progress->value() > 0, 10000);
    fixture.server.clearBehaviours();
}

void TestDetailPage::barFollowsState_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("update");
    QTest::addColumn<QString>("install");
    QTest::addColumn<bool>("installEnabled");
    QTest::addColumn<bool>("installShown");
    QTest::addColumn<bool>("uninstallShown");
    QTest::addColumn<bool>("progress");
    QTest::newRow("available") << int(Package::AVAILABLE) << false << "Download" << true << true << false
                               << false;
    QTest::newRow("update") << int(Package::INSTALLED) << true << "Update" << true << true << true << false;
    QTest::newRow("installed") << int(Package::INSTALLED) << false << "Installed" << false << true << true
                               << false;
    QTest::newRow("preparing") << int(Package::PREPARING) << false << "Cancel" << true << true << false << true;
    QTest::newRow("uninstalling") << int(Package::UNINSTALLING) << false << "Download" << true << false
                                  << false << false;
    QTest::newRow("install error") << int(Package::INSTALL_ERROR) << false << "Retry" << true << true << false
                                   << false;
}

void TestDetailPage::barFollowsState()
{
    QFETCH(int, state);
    QFETCH(bool, update);
    QFETCH(QString, install);
    QFETCH(bool, installEnabled);
    QFETCH(bool, installShown);
    QFETCH(bool, uninstallShown);
    QFETCH(bool, progress);
    KOVTest::UiFixture fixture;
    fixture.addPackage(5, "Five", { "1.0" });
    fixture.publish();
    const auto package = fixture.package(5);
    PackageDetailTitleBar bar(fixture.controller);
    // Pressing install before any package is set does nothing.
    barButtons(bar).at(0)->click();
    bar.setPackage(package);
    bar.show();
    package->setHasUpdate(update);
    ModalAnswerer answerer;
    package->setState(Package::State(state));
    const QList<QPushButton *> buttons = barButtons(bar);
    QCOMPARE(buttons.at(0)->text(), install);
    QCOMPARE(buttons.at(0)->isEnabled(), installEnabled);
    QCOMPARE(buttons.at(0)->isVisible(), installShown);
    QCOMPARE(buttons.at(1)->isVisible(), uninstallShown);
    QCOMPARE(bar.findChild<QProgressBar *>()->isVisible(), progress);
    QCOMPARE(buttons.at(2)->text(), QStringLiteral("Get Help"));
    QCOMPARE(buttons.at(3)->text(), QStringLiteral("Manual"));
    QCOMPARE(bar.findChild<QLabel *>(QStringLiteral("DetailTitle"))->text(), QStringLiteral("Five"));
    if (state == Package::INSTALL_ERROR)
        QTRY_COMPARE(answerer.seen(), QStringList { "Install Error|Installation failed for package : Five" });
}

void TestDetailPage::uninstallBox_data()
{
    QTest::addColumn<bool>("withDependents");
    QTest::addColumn<int>("answer");
    QTest::newRow("alone, yes") << false << int(QMessageBox::Yes);
    QTest::newRow("alone, no") << false << int(QMessageBox::No);
    QTest::newRow("with dependents, yes") << true << int(QMessageBox::Yes);
    QTest::newRow("with dependents, closed") << true << -1;
}

void TestDetailPage::uninstallBox()
{
    QFETCH(bool, withDependents);
    QFETCH(int, answer);
    KOVTest::UiFixture fixture;
    fixture.addPackage(1, "Library", { "1.0.0" });
    fixture.addPackage(7, "Seven", { "1.0.0" }, { "1" });
    fixture.addPackage(8, "Eight", { "1.0.0" }, { "1:1.0.0" });
    fixture.publish();
    fixture.markInstalled(1, "1.0.0");
    KOVTest::writeFile(fixture.xp("Resources/plugins/P1/file.txt"), "lib");
    if (withDependents) {
        for (int id : { 7, 8 }) {
            fixture.markInstalled(id, "1.0.0");
            KOVTest::writeFile(fixture.xp(QStringLiteral("Resources/plugins/P%1/file.txt").arg(id)),
                               "plugin");
        }
    }
    PackageDetailTitleBar bar(fixture.controller);
    bar.setPackage(fixture.package(1));
    bar.show();
    ModalAnswerer answerer;
    answerer.enqueue(answer < 0 ? ModalAnswerer::closeWindow()
                                : ModalAnswerer::button(QMessageBox::StandardButton(answer)));
    barButtons(bar).at(1)->click();
    QVERIFY(answerer.allAnswered());
    QString expected = QStringLiteral("Uninstall Package|Uninstall Library from this system");
    if (withDependents)
        expected += QStringLiteral(
            "\n\nFollowing dependent extensions will also be uninstalled\n\nSeven\nEight\n");
    QCOMPARE(answerer.seen(), QStringList { expected });

    const bool yes = answer == QMessageBox::Yes;
    QTRY_VERIFY(!fixture.controller->isInstalling());
    QCOMPARE(fixture.package(1)->state(), yes ? Package::AVAILABLE : Package::INSTALLED);
    QCOMPARE(QFileInfo::exists(fixture.xp("Resources/plugins/P1")), !yes);
    if (withDependents) {
        QCOMPARE(fixture.package(7)->state(), yes ? Package::AVAILABLE : Package::INSTALLED);
        QCOMPARE(QFileInfo::exists(fixture.xp("Resources/plugins/P8")), !yes);
    }
    QVERIFY(!QApplication::overrideCursor());
}

void TestDetailPage::oldVersions()
{
    KOVTest::UiFixture fixture;
    fixture.addPackage(5, "Five", { "3.0.0", "2.0.0", "1.0.0" });
    fixture.addPackage(6, "Single", { "1.0.0" });
    fixture.publish();
    const auto package = fixture.package(5);
    PackageDetailOldVersionsList list(fixture.controller);
    list.setPackage(fixture.package(6));
    QCOMPARE(rows(list), QStringList());

    list.setPackage(package);
    QCOMPARE(rows(list), QStringList({ "2.0.0:Download", "1.0.0:Download" }));
    QCOMPARE(list.list()->item(0)->sizeHint().height(), 72);

    fixture.markInstalled(5, "2.0.0");
    QCOMPARE(rows(list), QStringList({ "2.0.0:Installed (disabled)", "1.0.0:Download" }));
    package->setState(Package::DOWNLOADING);
    QCOMPARE(rows(list), QStringList({ "2.0.0:Installed (disabled)", "1.0.0:Download (disabled)" }));
    fixture.markInstalled(5, "1.0.0");
    QCOMPARE(rows(list), QStringList({ "2.0.0:Download", "1.0.0:Installed (disabled)" }));

    // An error state: the buttons are there but do nothing.
    package->setState(Package::INSTALL_ERROR);
    fixture.server.clearRequests();
    ModalAnswerer answerer;
    qobject_cast<PackageDetailOldVersionWidget *>(list.list()->itemWidget(list.list()->item(0)))
        ->button()
        ->click();
    QTest::qWait(50);
    QVERIFY(answerer.seen().isEmpty());
    QCOMPARE(package->state(), Package::INSTALL_ERROR);
    QVERIFY(fixture.server.requests().isEmpty());
}

void TestDetailPage::olderVersionOfInstalledPackage()
{
    KOVTest::UiFixture fixture;
    fixture.addPackage(1, "Library", { "2.0.0", "1.0.0" });
    fixture.addPackage(7, "Needs new", { "1.0.0" }, { "1:2.0.0" });
    fixture.addPackage(8, "Needs any", { "1.0.0" }, { "1" });
    fixture.publish();
    fixture.markInstalled(1, "2.0.0");
    fixture.markInstalled(7, "1.0.0");
    fixture.markInstalled(8, "1.0.0");
    PackageDetailOldVersionsList list(fixture.controller);
    list.setPackage(fixture.package(1));
    list.show();

    ModalAnswerer answerer;
    answerer.enqueue(ModalAnswerer::button(QMessageBox::No));
    list.installOlderVersion(fixture.package(1)->versions().at(1));
    QCOMPARE(answerer.seen(),
             QStringList {
                 "Install Package|Install older version?\n\nFollowing extensions depend on newer version "
                 "and may stop working\n\nNeeds new\n" });
    QCOMPARE(fixture.package(1)->state(), Package::INSTALLED);

    answerer.enqueue(ModalAnswerer::button(QMessageBox::Yes));
    list.installOlderVersion(fixture.package(1)->versions().at(1));
    QTRY_COMPARE_WITH_TIMEOUT(fixture.package(1)->state(), Package::INSTALLED, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!fixture.controller->isInstalling(), 20000);
    QCOMPARE(fixture.controller->installedVersion(fixture.package(1)), QStringLiteral("1.0.0"));
    QCOMPARE(KOVTest::readFile(fixture.xp("Resources/plugins/P1/file.txt")), QByteArray("Library 1.0.0"));
    QCOMPARE(rows(list), QStringList { "1.0.0:Installed (disabled)" });
}

void TestDetailPage::carouselWrapsAndKeepsPictures()
{
    KOVTest::UiFixture fixture;
    const QStringList colours { "red", "green", "blue" };
    QVector<QString> urls;
    for (const QString &colour : colours) {
        solidImage(QColor(colour)).save(fixture.home.path() + "/served/" + colour + ".png");
        urls << fixture.server.url("/" + colour + ".png");
    }
    Carousel carousel(fixture.downloads);
    carousel.resize(640, 480);
    carousel.show();
    carousel.setImages(urls);
    auto *label = carousel.findChildren<QLabel *>().first();
    QVERIFY(label->movie());
    QTRY_VERIFY_WITH_TIMEOUT(!label->pixmap(Qt::ReturnByValue).isNull(), 10000);
    QVERIFY(!label->movie());
    QCOMPARE(label->pixmap(Qt::ReturnByValue).toImage().pixelColor(1, 1), QColor("red"));

    carousel.previous();
    QCOMPARE(carousel.index(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(!label->pixmap(Qt::ReturnByValue).isNull(), 10000);
    QCOMPARE(label->pixmap(Qt::ReturnByValue).toImage().pixelColor(1, 1), QColor("blue"));
    carousel.next();
    QCOMPARE(carousel.index(), 0);
    // Shown again at once, without a download.
    QVERIFY(!label->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(fixture.server.requestLines().count("GET /red.png"), 1);

    // Step away while the image loads, come back after it arrived.
    carousel.next();
    carousel.next();
    QTRY_VERIFY_WITH_TIMEOUT(fixture.server.requestLines().contains("GET /green.png"), 10000);
    QTest::qWait(200);
    carousel.previous();
    QCOMPARE(carousel.index(), 1);
    QVERIFY(!label->movie());
    QCOMPARE(label->pixmap(Qt::ReturnByValue).toImage().pixelColor(1, 1), QColor("green"));

    // One picture: both buttons show it again.
    carousel.setImages({ urls.first() });
    QTRY_VERIFY_WITH_TIMEOUT(!label->pixmap(Qt::ReturnByValue).isNull(), 10000);
    carousel.next();
    QCOMPARE(carousel.index(), 0);
    carousel.previous();
    QCOMPARE(carousel.index(), 0);
}

void TestDetailPage::carouselIgnoresReplacedList()
{
    KOVTest::UiFixture fixture;
    solidImage(Qt::red).save(fixture.home.path() + "/served/slow.png");
    solidImage(Qt::blue).save(fixture.home.path() + "/served/fast.png");
    KOVTest::HttpServer::Behaviour slow;
    slow.trickleBytes = 20;
    slow.trickleIntervalMs = 20;
    fixture.server.setBehaviour("/slow.png", slow);
    Carousel carousel(fixture.downloads);
    carousel.resize(640, 480);
    carousel.show();
    auto *label = carousel.findChildren<QLabel *>().first();

    carousel.setImages({ fixture.server.url("/slow.png"), fixture.server.url("/fast.png") });
    // Showing the loading image again does not start a second transfer of it.
    carousel.next();
    carousel.previous();
    carousel.setImages({ fixture.server.url("/fast.png") });
    QTRY_VERIFY_WITH_TIMEOUT(!label->pixmap(Qt::ReturnByValue).isNull(), 10000);
    QCOMPARE(label->pixmap(Qt::ReturnByValue).toImage().pixelColor(1, 1), QColor(Qt::blue));
    QTRY_VERIFY_WITH_TIMEOUT(fixture.downloads->find(fixture.server.url("/slow.png")).isNull(), 20000);
    QTest::qWait(100);
    QCOMPARE(label->pixmap(Qt::ReturnByValue).toImage().pixelColor(1, 1), QColor(Qt::blue));
    QCOMPARE(fixture.server.requestLines().count("GET /slow.png"), 1);
}

void TestDetailPage::carouselRetriesAFewTimes()
{
    KOVTest::UiFixture fixture;
    Carousel carousel(fixture.downloads);
    carousel.show();
    QElapsedTimer timer;
    timer.start();
    carousel.setImages({ fixture.server.url("/missing.png") });
    QTRY_COMPARE_WITH_TIMEOUT(fixture.server.requestLines().count("GET /missing.png"),
                              1 + Carousel::maximumRetries, 15000);
    QVERIFY(timer.elapsed() >= (Carousel::maximumRetries - 1) * Carousel::retryDelayMs);
    QTest::qWait(Carousel::retryDelayMs + 500);
    QCOMPARE(fixture.server.requestLines().count("GET /missing.png"), 1 + Carousel::maximumRetries);
    // Showing it again does not start over; a new list does.
    carousel.next();
    QTest::qWait(100);
    QCOMPARE(fixture.server.requestLines().count("GET /missing.png"), 1 + Carousel::maximumRetries);
    carousel.setImages({ fixture.server.url("/missing.png") });
    QTRY_COMPARE_WITH_TIMEOUT(fixture.server.requestLines().count("GET /missing.png"),
                              2 + Carousel::maximumRetries, 5000);
}

void TestDetailPage::verifyAndRepair()
{
    KOVTest::UiFixture fixture;
    fixture.addPackage(5, "Five", { "1.0" });
    fixture.publish();
    QString version;
    fixture.controller->installPackage(fixture.package(5), version);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.package(5)->state(), Package::INSTALLED, 30000);
    QTRY_VERIFY(!fixture.controller->isInstalling());
    PackageDetailTitleBar bar(fixture.controller);
    bar.setPackage(fixture.package(5));
    bar.show();
    auto *verify = bar.findChild<QPushButton *>(QStringLiteral("Verify"));
    QVERIFY(verify && verify->isVisible());

    // Untouched: nothing to repair.
    ModalAnswerer answerer;
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Close));
    verify->click();
    QTRY_COMPARE(answerer.seen().size(), 1);
    QCOMPARE(answerer.seen().at(0), QStringLiteral("Verify|All files of Five are as they were installed."));

    const QString file = fixture.xp("Resources/plugins/P5/file.txt");
    QVERIFY(QFile::remove(file));
    answerer.enqueue([](QWidget *box) {
        for (QPushButton *button : box->findChildren<QPushButton *>()) {
            if (button->text() == QLatin1String("Repair"))
                button->click();
        }
    });
    QTRY_VERIFY(verify->isEnabled());
    verify->click();
    QTRY_COMPARE(answerer.seen().size(), 2);
    QCOMPARE(answerer.seen().at(1), QStringLiteral("Verify|Some files of Five are not as they were installed.\n\n"
                                                   "Missing:\nResources/plugins/P5/file.txt"));
    // Repair installs the installed version again.
    QTRY_COMPARE_WITH_TIMEOUT(KOVTest::readFile(file), QByteArray("Five 1.0"), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.package(5)->state(), Package::INSTALLED, 30000);
    QTRY_VERIFY(!fixture.controller->isInstalling());
}

void TestDetailPage::bannerLeavesRoomForTabs_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("1320 x 800") << QSize(1320, 800);
    QTest::newRow("1920 x 1080") << QSize(1920, 1080);
}

void TestDetailPage::bannerLeavesRoomForTabs()
{
    QFETCH(QSize, size);
    qApp->setStyleSheet(QString::fromUtf8(KOVTest::readFile(":/resources/style.qss")));
    KOVTest::UiFixture fixture;
    fixture.addPackage(5, "Five", { "1.0" }, {}, { fixture.server.url("/b1.png") });
    fixture.publish();
    KOV::Ui::PackageDetailWidget page(fixture.controller);
    page.resize(size.width() - 40, size.height() - 120); // what the window leaves it below the top bar
    page.showPackage(fixture.package(5));
    QTest::qWait(50);
    const auto *tabs = page.findChild<QTabWidget *>();
    const auto *banner = page.findChild<Carousel *>();
    // The tabs keep 250 pixels, seen whole without scrolling the page; the banner keeps its shape.
    QVERIFY2(tabs->height() >= 250, qPrintable(QString::number(tabs->height())));
    QVERIFY(tabs->geometry().bottom() <= page.height());
    QVERIFY(banner->height() <= banner->width() * 9 / 16 + 1);
    QVERIFY(banner->height() > 100);
    // A package with one version says so where older ones would be.
    const auto *none = page.findChild<QLabel *>("NoOlderVersions");
    QVERIFY(none && !none->isHidden());
    QCOMPARE(none->text(), QStringLiteral("No older versions."));
    qApp->setStyleSheet(QString());
}

QTEST_MAIN(TestDetailPage)
#include "tst_detailpage.moc"
