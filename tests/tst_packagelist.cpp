#include <QTextDocumentFragment>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTcpServer>
#include <QTimer>
#include <QtTest>

#include "common/qtawesome.h"
#include "controllers/packagefilter.h"
#include "ui/packagecontainer.h"
#include "ui/packagedetailwidget.h"
#include "ui/packageprocessingwidget.h"
#include "ui/packagesidebar.h"
#include "ui/packagewidget.h"
#include "ui/progresstext.h"
#include "ui/tilelist.h"
#include "uifixture.h"

using KOV::Models::Package;
using KOV::Ui::PackageWidget;
using KOV::Ui::TileList;
using KOVTest::ModalAnswerer;

namespace {

QPushButton *actionButton(PackageWidget &tile)
{
    return tile.findChildren<QPushButton *>().first();
}

QStringList labelTexts(QWidget &widget)
{
    QStringList texts;
    for (QLabel *label : widget.findChildren<QLabel *>())
        texts << label->text();
    return texts;
}

} // namespace

class TestPackageList final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { KOV::sharedIcons()->initFontAwesome(); }
    void pageFollowsController();
    void catalogueErrorTriesAgain();
    void progressText_data();
    void progressText();
    void progressFollowsTheInstallation();
    void listHasOneRowPerPackage();
    void sidebarFollowsShowFilter_data();
    void sidebarFollowsShowFilter();
    void tileStates_data();
    void tileStates();
    void progressInThousands();
    void errorBoxOnlyWhileVisible();
    void confirmation_data();
    void confirmation();
    void packageWithoutVersions();
    void spinnerRestsWhileNoLoadingTileIsSeen();
    void sameIconFetchedOnce();
    void iconsOfRemovedTilesAreDropped();
    void tilesAreMadeNearTheViewport();
    void lateTileShowsTheRunningDownload_data();
    void lateTileShowsTheRunningDownload();
};

void TestPackageList::pageFollowsController()
{
    KOVTest::UiFixture fixture;
    fixture.addPackage(3, "Three", { "1.0" });
    KOVTest::writeFile(fixture.home.path() + "/served/packages.json",
                       QJsonDocument(fixture.catalogue).toJson());
    KOV::Ui::PackageContainer page(fixture.controller);
    page.resize(1300, 700);
    page.show();
    auto *list = page.findChild<TileList *>();
    auto *processing = page.findChild<KOV::Ui::PackageProcessingWidget *>();
    auto *detail = page.findChild<KOV::Ui::PackageDetailWidget *>();
    auto *text = processing->findChildren<QLabel *>().at(1);
    auto *animation = processing->findChildren<QLabel *>().at(0);
    // Loading first; the catalogue arrives from the server.
    QVERIFY(processing->isVisible() && animation->isVisible() && !list->isVisible() && !detail->isVisible());
    QCOMPARE(animation->movie()->state(), QMovie::Running);
    QTRY_VERIFY_WITH_TIMEOUT(list->isVisible(), 10000);
    QCOMPARE(list->count(), 1);
    QVERIFY(!processing->isVisible());
    // Out of sight, the animation does not run.
    QCOMPARE(animation->movie()->state(), QMovie::NotRunning);

    emit fixture.controller->busy();
    QVERIFY(animation->isVisible() && !text->isVisible() && !list->isVisible());
    QCOMPARE(animation->movie()->state(), QMovie::Running);
    emit fixture.controller->empty();
    QVERIFY(!animation->isVisible() && text->isVisible());
    QCOMPARE(animation->movie()->state(), QMovie::NotRunning);
    QCOMPARE(text->text(), QStringLiteral("No items found"));
    emit fixture.controller->error(QStringLiteral("Server Error"));
    QCOMPARE(text->text(), QStringLiteral("Server Error"));
    QVERIFY(!animation->isVisible() && !list->isVisible());
    emit fixture.controller->error(QString());
    QVERIFY(text->text().isEmpty() && !animation->isVisible());
    emit fixture.controller->empty();
    QCOMPARE(text->text(), QStringLiteral("No items found"));

    fixture.controller->showDetail(fixture.package(3));
    QVERIFY(detail->isVisible() && !list->isVisible() && !processing->isVisible());
    // A rebuild behind the detail page leaves the page on screen.
    emit fixture.controller->update();
    QVERIFY(detail->isVisible());
    fixture.controller->showList();
    QVERIFY(list->isVisible() && !detail->isVisible());
}

void TestPackageList::listHasOneRowPerPackage()
{
    KOVTest::UiFixture fixture;
    fixture.addPackage(1, "One", { "1.0" });
    fixture.addPackage(2, "Two", { "2.0", "1.0" });
    KOV::Ui::PackageContainer page(fixture.controller);
    fixture.publish();
    auto *list = page.findChild<TileList *>();
    QCOMPARE(list->count(), 2);
    for (int row = 0; row < 2; ++row) {
        QCOMPARE(list->tileRect(row).height(), 128);
        QVERIFY(qobject_cast<PackageWidget *>(list->tile(row)));
    }
    QVERIFY(labelTexts(*list->tile(1)).contains(QStringLiteral("Two")));
    fixture.catalogue = QJsonArray();
    fixture.publish();
    QCOMPARE(list->count(), 0);
}

void TestPackageList::sidebarFollowsShowFilter_data()
{
    QTest::addColumn<QString>("showFilter");
    QTest::addColumn<bool>("shown");
    QTest::newRow("false") << "false" << false;
    QTest::newRow("False") << "False" << true;
    QTest::newRow("true") << "true" << true;
    QTest::newRow("empty") << "" << true;
}

void TestPackageList::sidebarFollowsShowFilter()
{
    QFETCH(QString, showFilter);
    QFETCH(bool, shown);
    KOVTest::UiFixture fixture(showFilter);
    KOV::Ui::PackageContainer page(fixture.controller);
    page.show();
    auto *sidebar = page.findChild<KOV::Ui::PackageSidebar *>();
    QVERIFY(!sidebar->isVisible() || shown);
    fixture.publish();
    QCOMPARE(sidebar->isVisible(), shown);
    auto *categories = sidebar->findChild<QComboBox *>();
    QCOMPARE(categories->count(), 3);
    QCOMPARE(categories->itemText(0), QStringLiteral("All"));
    QCOMPARE(categories->itemData(0).toString(), QString());
    QCOMPARE(categories->itemText(1), QStringLiteral("Plugin"));
    QCOMPARE(categories->itemData(2).toString(), QStringLiteral("LIBRARY"));
    auto *types = sidebar->findChild<QListWidget *>();
    QCOMPARE(types->count(), 2);
    QCOMPARE(types->item(1)->text(), QStringLiteral("Paid"));
    QCOMPARE(types->item(0)->checkState(), Qt::Checked);
}

void TestPackageList::tileStates_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("update");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("progress");
    QTest::addColumn<int>("icon");
    QTest::newRow("available") << int(Package::AVAILABLE) << false << "Download"
                               << "Download" << true << false << 0xF0ED;
    QTest::newRow("update") << int(Package::INSTALLED) << true << "Update"
                            << "Update" << true << false << 0xF0ED;
    QTest::newRow("installed") << int(Package::INSTALLED) << false << "Installed"
                               << "Installed" << false << false << 0xF00C;
    QTest::newRow("preparing") << int(Package::PREPARING) << false << "Cancel"
                               << "Busy" << true << true << 0xF00D;
    QTest::newRow("downloading") << int(Package::DOWNLOADING) << false << "Cancel"
                                 << "Busy" << true << true << 0xF00D;
    QTest::newRow("installing") << int(Package::INSTALLING) << false << "Installing"
                                << "Busy" << false << true << 0xF254;
    QTest::newRow("uninstalling") << int(Package::UNINSTALLING) << false << "Uninstalling"
                                  << "Busy" << false << true << 0xF254;
    QTest::newRow("install error") << int(Package::INSTALL_ERROR) << false << "Retry"
                                   << "Error" << true << false << 0xF071;
    QTest::newRow("download error") << int(Package::DOWNLOAD_ERROR) << false << "Retry"
                                    << "Error" << true << false << 0xF071;
    QTest::newRow("dependency error") << int(Package::DEPENDENCY_ERROR) << false << "Retry"
                                      << "Error" << true << false << 0xF071;
    // Unknown keeps what the button showed before.
    QTest::newRow("unknown") << int(Package::UNKNOWN) << false << "Download"
                             << "Download" << true << false << 0xF0ED;
}

void TestPackageList::tileStates()
{
    QFETCH(int, state);
    QFETCH(bool, update);
    QFETCH(QString, text);
    QFETCH(QString, name);
    QFETCH(bool, enabled);
    QFETCH(bool, progress);
    QFETCH(int, icon);
    KOVTest::UiFixture fixture;
    fixture.addPackage(5, "Five", { "1.2.0", "1.0.0" });
    fixture.publish();
    const auto package = fixture.package(5);
    // On record as installed in 1.0.0: every state but "available" (and "unknown") keeps that version on disk.
    fixture.markInstalled(5, "1.0.0");
    package->setState(Package::AVAILABLE);
    PackageWidget tile(fixture.controller, package); // hidden: no error box
    package->setHasUpdate(update);
    package->setState(Package::State(state));

    QPushButton *button = actionButton(tile);
    QCOMPARE(button->text(), text);
    QCOMPARE(button->objectName(), name);
    QCOMPARE(button->isEnabled(), enabled);
    QCOMPARE(!tile.findChild<QProgressBar *>()->isHidden(), progress);
    QVERIFY(KOVTest::sameIcon(button->icon(), KOV::sharedIcons()->icon(icon)));
    const QStringList labels = labelTexts(tile);
    const bool installed = state != Package::AVAILABLE && state != Package::UNKNOWN;
    QVERIFY2(labels.contains(installed ? QStringLiteral("Installed : 1.0.0") : QStringLiteral("Installed : ")),
             qPrintable(labels.join('|')));
    QVERIFY(labels.contains(QStringLiteral("Available : 1.2.0")));
    QLabel *available = nullptr;
    for (QLabel *label : tile.findChildren<QLabel *>()) {
        if (label->text().startsWith(QStringLiteral("Available")))
            available = label;
    }
    QCOMPARE(available->font().weight(), update ? 75 : 50);
}

void TestPackageList::progressInThousands()
{
    KOVTest::UiFixture fixture;
    fixture.addPackage(5, "Five", { "1.0" });
    fixture.publish();
    const auto package = fixture.package(5);
    PackageWidget tile(fixture.controller, package);
    package->setState(Package::PREPARING);
    auto *bar = tile.findChild<QProgressBar *>();
    QCOMPARE(bar->maximum(), 0);
    emit package->totalSize(999);
    QCOMPARE(bar->maximum(), 0);
    emit package->totalSize(1999);
    QCOMPARE(bar->maximum(), 1);
    emit package->totalSize(5000000000LL);
    emit package->downloadedSize(2500000000LL);
    QCOMPARE(bar->maximum(), 5000000);
    QCOMPARE(bar->value(), 2500000);
}

void TestPackageList::errorBoxOnlyWhileVisible()
{
    KOVTest::UiFixture fixture;
    fixture.addPackage(5, "Five", { "1.0" });
    fixture.publish();
    const auto package = fixture.package(5);
    PackageWidget tile(fixture.controller, package);
    ModalAnswerer answerer;
    package->setState(Package::DOWNLOAD_ERROR);
    QTest::qWait(100);
    QVERIFY(answerer.seen().isEmpty());

    tile.show();
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Ok));
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Ok));
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Ok));
    // Each box opens from the event loop, after the change that it reports.
    for (const Package::State state : { Package::INSTALL_ERROR, Package::DEPENDENCY_ERROR, Package::DOWNLOAD_ERROR }) {
        const int shown = answerer.seen().size();
        package->setState(state);
        QVERIFY(answerer.seen().size() == shown);
        QTRY_COMPARE(answerer.seen().size(), shown + 1);
    }
    QCOMPARE(answerer.seen(),
             QStringList({ "Install Error|Installation failed for package : Five",
                           "Dependency Error|Unable to install one or more dependency for package : Five",
                           "Download Error|Downloading failed for package : Five" }));
    QCOMPARE(actionButton(tile)->text(), QStringLiteral("Retry"));
    QCOMPARE(actionButton(tile)->toolTip(), QStringLiteral("Download Error"));
}

void TestPackageList::confirmation_data()
{
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QStringList>("depends");
    QTest::addColumn<QVector<int>>("answers");
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<bool>("installs");
    const int yes = QMessageBox::Yes;
    const int no = QMessageBox::No;
    QTest::newRow("download, no questions")
        << false << QStringList() << QVector<int>() << QStringList() << true;
    QTest::newRow("update, log yes") << true << QStringList() << QVector<int> { yes }
                                     << QStringList { "Change Log" } << true;
    QTest::newRow("update, log no") << true << QStringList() << QVector<int> { no }
                                    << QStringList { "Change Log" } << false;
    QTest::newRow("update, log closed")
        << true << QStringList() << QVector<int> { -1 } << QStringList { "Change Log" } << false;
    // The library is installed in 1.0 and offers 2.0: only a minimum above 1.0 brings it along.
    QTest::newRow("dependencies yes")
        << false << QStringList { "1:2.0" } << QVector<int> { yes } << QStringList { "Install Package" } << true;
    QTest::newRow("dependencies no") << false << QStringList { "1:2.0" } << QVector<int> { no }
                                     << QStringList { "Install Package" } << false;
    QTest::newRow("dependency already there, no question")
        << false << QStringList { "1:1.0" } << QVector<int>() << QStringList() << true;
    QTest::newRow("update with dependencies") << true << QStringList { "1:2.0" } << QVector<int> { yes, yes }
                                              << QStringList { "Change Log", "Install Package" } << true;
    QTest::newRow("one of two unresolved")
        << false << QStringList { "1", "99" } << QVector<int> { QMessageBox::Ok }
        << QStringList { "Dependencies Error" } << false;
}

void TestPackageList::confirmation()
{
    QFETCH(bool, installed);
    QFETCH(QStringList, depends);
    QFETCH(QVector<int>, answers);
    QFETCH(QStringList, titles);
    QFETCH(bool, installs);
    KOVTest::UiFixture fixture;
    fixture.addPackage(1, "Library", { "2.0", "1.0" });
    fixture.addPackage(5, "Five", { "1.2.0", "1.1.0", "1.0.0" }, depends);
    fixture.publish();
    fixture.markInstalled(1, "1.0");
    if (installed) {
        fixture.markInstalled(5, "1.0.0");
        fixture.package(5)->setHasUpdate(true);
    }
    const auto package = fixture.package(5);
    PackageWidget tile(fixture.controller, package);
    tile.show();

    ModalAnswerer answerer;
    for (int answer : answers)
        answerer.enqueue(answer < 0 ? ModalAnswerer::closeWindow()
                                    : ModalAnswerer::button(QMessageBox::StandardButton(answer)));
    actionButton(tile)->click();
    QVERIFY(answerer.allAnswered());
    QStringList seenTitles;
    for (const QString &box : answerer.seen())
        seenTitles << box.section('|', 0, 0);
    QCOMPARE(seenTitles, titles);
    // The change log's markup, taken apart and put together again without anything it could load.
    if (titles.contains(QStringLiteral("Change Log")))
        QCOMPARE(QTextDocumentFragment::fromHtml(answerer.seen().first().section('|', 1)).toPlainText(),
                 QTextDocumentFragment::fromHtml(
                     "<strong>1.2.0</strong><ul><li>changes of 1.2.0</li></ul><strong>1.1.0</strong><ul><li>"
                     "changes of 1.1.0</li></ul><p><strong>Update Five from 1.0.0 to 1.2.0?</strong></p>")
                     .toPlainText());
    if (titles.contains(QStringLiteral("Install Package")))
        QCOMPARE(
            answerer.seen().last().section('|', 1),
            QStringLiteral("This package is dependent on following packages and will be installed if not "
                           "already installed or upgraded if outdated along with this package\n\nLibrary 2.0 "
                           "(update from 1.0)\n\nContinue?"));
    QCOMPARE(package->state() == Package::PREPARING || package->state() == Package::DOWNLOADING, installs);
    QTRY_VERIFY_WITH_TIMEOUT(!installs || package->state() == Package::INSTALLED, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!fixture.controller->isInstalling(), 20000);
}

void TestPackageList::packageWithoutVersions()
{
    KOVTest::UiFixture fixture;
    auto bare = QSharedPointer<Package>(new Package);
    bare->setName(QStringLiteral("Bare"));
    bare->setState(Package::AVAILABLE);
    PackageWidget tile(fixture.controller, bare);
    tile.show();
    QVERIFY(labelTexts(tile).contains(QStringLiteral("Available : ")));
    ModalAnswerer answerer;
    actionButton(tile)->click();
    QTest::qWait(50);
    QVERIFY(answerer.seen().isEmpty());
    QCOMPARE(bare->state(), Package::AVAILABLE);
}

void TestPackageList::spinnerRestsWhileNoLoadingTileIsSeen()
{
    // Icons from a server that never answers: every tile keeps loading.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    KOVTest::UiFixture fixture;
    for (int id = 1; id <= 30; ++id)
        fixture.addPackage(id, QStringLiteral("Package %1").arg(id), { "1.0" });
    for (int i = 0; i < fixture.catalogue.size(); ++i) {
        QJsonObject package = fixture.catalogue.at(i).toObject();
        package["icon"] = QStringLiteral("http://127.0.0.1:%1/icon%2.png").arg(silent.serverPort()).arg(i);
        fixture.catalogue[i] = package;
    }
    fixture.publish();
    KOV::Ui::PackageContainer page(fixture.controller);
    page.resize(1200, 500);
    page.show();
    auto *list = page.findChild<TileList *>();
    QTRY_COMPARE_WITH_TIMEOUT(list->count(), 30, 10000);
    QMovie *spinner = PackageWidget::sharedLoadingMovie();
    QTRY_COMPARE_WITH_TIMEOUT(spinner->state(), QMovie::Running, 5000);

    // Nothing on screen is loading: the spinner rests within a frame or two.
    page.hide();
    QTRY_COMPARE_WITH_TIMEOUT(spinner->state(), QMovie::Paused, 2000);
    page.show();
    QTRY_COMPARE_WITH_TIMEOUT(spinner->state(), QMovie::Running, 2000);
    // Scrolled to the end, the tiles in view keep it going.
    list->scrollToRow(29);
    QTest::qWait(500);
    QCOMPARE(spinner->state(), QMovie::Running);
}

void TestPackageList::sameIconFetchedOnce()
{
    KOVTest::UiFixture fixture;
    QImage icon(8, 8, QImage::Format_RGB32);
    icon.fill(Qt::red);
    QVERIFY(icon.save(fixture.home.path() + "/served/icon.png"));
    for (int id = 1; id <= 3; ++id)
        fixture.addPackage(id, QStringLiteral("Package %1").arg(id), { "1.0" });
    for (int i = 0; i < fixture.catalogue.size(); ++i) {
        QJsonObject package = fixture.catalogue.at(i).toObject();
        package["icon"] = fixture.server.url("/icon.png");
        fixture.catalogue[i] = package;
    }
    // A slow answer, so that all three tiles ask while the first transfer runs.
    KOVTest::HttpServer::Behaviour slow;
    slow.trickleBytes = 16;
    slow.trickleIntervalMs = 20;
    fixture.server.setBehaviour("/icon.png", slow);
    fixture.publish();
    QVector<PackageWidget *> tiles;
    for (int id = 1; id <= 3; ++id)
        tiles << new PackageWidget(fixture.controller, fixture.package(id));
    for (PackageWidget *tile : tiles)
        QTRY_VERIFY_WITH_TIMEOUT(!tile->findChild<QLabel *>("PackageIcon")->pixmap(Qt::ReturnByValue).isNull()
                                     && tile->findChild<QLabel *>("PackageIcon")->hasScaledContents(),
                                 10000);
    QCOMPARE(fixture.server.requestLines().filter("/icon.png").size(), 1);
    qDeleteAll(tiles);
}

void TestPackageList::iconsOfRemovedTilesAreDropped()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    KOVTest::UiFixture fixture;
    for (int id = 1; id <= 20; ++id)
        fixture.addPackage(id, QStringLiteral("Package %1").arg(id), { "1.0" });
    auto iconOf = [&](int i) {
        return QStringLiteral("http://127.0.0.1:%1/icon%2.png").arg(silent.serverPort()).arg(i);
    };
    for (int i = 0; i < fixture.catalogue.size(); ++i) {
        QJsonObject package = fixture.catalogue.at(i).toObject();
        package["icon"] = iconOf(i);
        fixture.catalogue[i] = package;
    }
    fixture.publish();
    KOV::Ui::PackageContainer page(fixture.controller);
    page.resize(1200, 2800);
    page.show();
    auto *list = page.findChild<TileList *>();
    QTRY_COMPARE_WITH_TIMEOUT(list->count(), 20, 10000);
    for (int i = 0; i < 20; ++i)
        QVERIFY(fixture.downloads->find(iconOf(i)));
    // The next list has other packages: the icons of the old tiles are no longer fetched.
    fixture.catalogue = QJsonArray();
    fixture.addPackage(99, "Other", { "1.0" });
    fixture.publish();
    QCOMPARE(list->count(), 1);
    // The old tiles are gone at once, not at some later turn of the event loop.
    QCOMPARE(page.findChildren<PackageWidget *>().size(), 1);
    for (int i = 0; i < 20; ++i)
        QVERIFY(!fixture.downloads->find(iconOf(i)));
}

namespace {

// Packages without archives, enough to fill many screens; icons from a server that never answers.
void addFillers(KOVTest::UiFixture &fixture, int count, quint16 silentPort)
{
    for (int id = 1; id <= count; ++id) {
        fixture.catalogue.append(QJsonObject {
            { "id", id },
            { "name", QJsonObject { { "en", QStringLiteral("Package %1").arg(id) } } },
            { "icon", QStringLiteral("http://127.0.0.1:%1/icon%2.png").arg(silentPort).arg(id) },
            { "versions",
              QJsonArray { QJsonObject { { "version", "1.0" }, { "link", "http://127.0.0.1:1/a.7z" } } } } });
    }
}

} // namespace

void TestPackageList::tilesAreMadeNearTheViewport()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    KOVTest::UiFixture fixture;
    addFillers(fixture, 300, silent.serverPort());
    fixture.publish();
    KOV::Ui::PackageContainer page(fixture.controller);
    page.resize(1200, 600);
    page.show();
    auto *list = page.findChild<TileList *>();
    QTRY_COMPARE_WITH_TIMEOUT(list->count(), 300, 10000);
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    auto tileAt = [&](int row) {
        return qobject_cast<PackageWidget *>(list->tile(row));
    };
    // The first screens have their tiles, and only they fetch icons; the rest are rows of a tile's size.
    const int made = page.findChildren<PackageWidget *>().size();
    QVERIFY2(made >= 4 && made < 30, qPrintable(QString::number(made)));
    for (int row = 0; row < 300; ++row) {
        QCOMPARE(list->tileRect(row).height(), 128);
        QCOMPARE(bool(fixture.downloads->find(
                     QStringLiteral("http://127.0.0.1:%1/icon%2.png").arg(silent.serverPort()).arg(row + 1))),
                 bool(tileAt(row)));
    }
    QVERIFY(tileAt(0) && !tileAt(299));
    QCOMPARE(tileAt(0)->geometry(), list->tileRect(0));
    QCOMPARE(list->verticalScrollBar()->maximum() + list->viewport()->height(), 300 * 128);

    list->scrollToRow(299);
    QTRY_VERIFY(tileAt(299));
    QVERIFY(labelTexts(*tileAt(299)).contains(QStringLiteral("Package 300")));
    QVERIFY(tileAt(299)->isVisible());
    QVERIFY(list->viewport()->rect().intersects(tileAt(299)->geometry()));
    QVERIFY(!tileAt(150));

    // A filter that leaves a far row alone on screen gives it a tile.
    fixture.controller->filter()->setText(QStringLiteral("Package 150"));
    QTRY_VERIFY(tileAt(149));
    QVERIFY(list->viewport()->rect().intersects(tileAt(149)->geometry()));
}

void TestPackageList::lateTileShowsTheRunningDownload_data()
{
    QTest::addColumn<qint64>("stallAfter");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("value");
    // Stalled before any byte: the bar has its range from the size the server told.
    QTest::newRow("no byte yet") << qint64(0) << "Cancel" << 0;
    QTest::newRow("a quarter") << qint64(50000) << "Cancel" << 50;
}

void TestPackageList::lateTileShowsTheRunningDownload()
{
    QFETCH(qint64, stallAfter);
    QFETCH(QString, button);
    QFETCH(int, value);
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    KOVTest::UiFixture fixture;
    addFillers(fixture, 200, silent.serverPort());
    // The last package's archive stops coming after `stallAfter` of its 200,000 bytes.
    KOVTest::writeFile(fixture.home.path() + "/served/big.7z", QByteArray(200000, 'x'));
    KOVTest::HttpServer::Behaviour stalled;
    stalled.stallAfter = stallAfter;
    fixture.server.setBehaviour("/big.7z", stalled);
    QJsonObject last = fixture.catalogue.last().toObject();
    last["versions"]
        = QJsonArray { QJsonObject { { "version", "1.0" }, { "link", fixture.server.url("/big.7z") } } };
    fixture.catalogue[fixture.catalogue.size() - 1] = last;
    fixture.publish();
    KOV::Ui::PackageContainer page(fixture.controller);
    page.resize(1200, 600);
    page.show();
    auto *list = page.findChild<TileList *>();
    QTRY_COMPARE_WITH_TIMEOUT(list->count(), 200, 10000);
    QVERIFY(!list->tile(199));

    const auto package = fixture.package(200);
    QString version;
    fixture.controller->installPackage(package, version);
    QTRY_COMPARE_WITH_TIMEOUT(package->state(), Package::DOWNLOADING, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(package->downloadDone(), stallAfter, 10000);
    QVERIFY(!list->tile(199));

    list->scrollToRow(199);
    QTRY_VERIFY(list->tile(199));
    auto *tile = qobject_cast<PackageWidget *>(list->tile(199));
    auto *bar = tile->findChild<QProgressBar *>();
    QCOMPARE(actionButton(*tile)->text(), button);
    QVERIFY(!bar->isHidden());
    QCOMPARE(bar->maximum(), 200);
    QCOMPARE(bar->value(), value);
    fixture.controller->cancel(package);
    QTRY_COMPARE(package->state(), Package::AVAILABLE);
}

void TestPackageList::catalogueErrorTriesAgain()
{
    KOVTest::UiFixture fixture;
    fixture.addPackage(5, "Five", { "1.0" });
    fixture.publish();
    KOVTest::HttpServer::Behaviour down;
    down.errorStatus = 503;
    fixture.server.setBehaviour("/packages.json", down);
    qApp->setStyleSheet(QString::fromUtf8(KOVTest::readFile(":/resources/style.qss")));
    KOV::Ui::PackageContainer page(fixture.controller);
    page.resize(1000, 700);
    page.show();
    auto *processing = page.findChild<KOV::Ui::PackageProcessingWidget *>();
    auto *retry = processing->findChild<QPushButton *>("RetryButton");
    QTRY_VERIFY_WITH_TIMEOUT(retry->isVisible(), 10000);
    // Light on the dark page, not black on it.
    const QLabel *text = processing->findChild<QLabel *>("ProcessingText");
    QCOMPARE(text->text(), QStringLiteral("Server Error"));
    QVERIFY(text->palette().color(QPalette::WindowText).lightness() > 200);
    qApp->setStyleSheet(QString());
    fixture.server.clearBehaviours();
    retry->click();
    QTRY_VERIFY_WITH_TIMEOUT(page.findChild<KOV::Ui::TileList *>()->isVisible(), 10000);
    QVERIFY(!retry->isVisible());
}

void TestPackageList::progressText_data()
{
    // Samples of (milliseconds, bytes) of a 40 MiB download; the text after the last.
    QTest::addColumn<QVector<QPoint>>("samples"); // x: ms, y: KiB
    QTest::addColumn<QString>("text");
    const int mib = 1024;
    QTest::newRow("at the start") << QVector<QPoint> { { 0, 0 } } << "0 bytes of 40.0 MiB";
    QTest::newRow("too soon for a speed") << QVector<QPoint> { { 0, 0 }, { 300, 512 } } << "512.0 KiB of 40.0 MiB";
    QTest::newRow("steady 5 MiB/s") << QVector<QPoint> { { 0, 0 }, { 1000, 5 * mib }, { 2000, 10 * mib } }
                                    << QString::fromUtf8("10.0 MiB of 40.0 MiB · 5.0 MiB/s · 6 s left");
    // Over the last three seconds only: an old burst does not count.
    QTest::newRow("smoothed over three seconds")
        << QVector<QPoint> { { 0, 0 }, { 500, 20 * mib }, { 4500, 24 * mib }, { 6500, 26 * mib } }
        << QString::fromUtf8("26.0 MiB of 40.0 MiB · 1.0 MiB/s · 14 s left");
    QTest::newRow("minutes left") << QVector<QPoint> { { 0, 0 }, { 2000, 256 } }
                                  << QString::fromUtf8("256.0 KiB of 40.0 MiB · 128.0 KiB/s · 5 min left");
}

void TestPackageList::progressText()
{
    QFETCH(QVector<QPoint>, samples);
    QFETCH(QString, text);
    KOV::Ui::ProgressText progress;
    progress.restart();
    QString shown;
    for (const QPoint &sample : samples)
        shown = progress.downloaded(qint64(sample.y()) * 1024, 40LL * 1024 * 1024, sample.x());
    QCOMPARE(shown, text);
}

void TestPackageList::progressFollowsTheInstallation()
{
    KOVTest::UiFixture fixture;
    QByteArray big(4 * 1024 * 1024, 'x');
    fixture.addPackage(5, "Five", { "1.0" });
    KOVTest::writeFile(fixture.home.path() + "/src/big/big.bin", big);
    KOVTest::make7z(fixture.home.path() + "/served/p5-1.0.7z", fixture.home.path() + "/src/big", { "-mx=0" });
    fixture.publish();
    KOVTest::HttpServer::Behaviour slow;
    slow.trickleBytes = 256 * 1024;
    slow.trickleIntervalMs = 100;
    fixture.server.setBehaviour("/p5-1.0.7z", slow);
    const auto package = fixture.package(5);
    PackageWidget tile(fixture.controller, package);
    tile.show();
    QStringList texts;
    QLabel *label = tile.findChild<QLabel *>("ProgressText");
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (label->isVisible() && (texts.isEmpty() || texts.last() != label->text()))
            texts << label->text();
    });
    watch.start(5);
    QString version;
    fixture.controller->installPackage(package, version);
    QTRY_COMPARE_WITH_TIMEOUT(package->state(), Package::INSTALLED, 30000);
    // The transfer with its size, speed and time left, then the installation's steps, then nothing.
    const QString all = texts.join('|');
    QVERIFY2(QRegularExpression(QString::fromUtf8("MiB of 4\\.\\d MiB · [0-9.]+ (KiB|MiB)/s · \\d+ s left")).match(all).hasMatch(),
             qPrintable(all));
    // The steps pass quickly; the label shows at least the long one.
    QVERIFY2(all.contains("Unpacking"), qPrintable(all));
    QVERIFY(!label->isVisible());
}

QTEST_MAIN(TestPackageList)
#include "tst_packagelist.moc"
