#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QAccessible>
#include <QAbstractItemView>
#include <QScreen>
#include <QtTest>

#include "common/qtawesome.h"
#include "components/windowcontrol.h"
#include "controllers/applicationcontroller.h"
#include "controllers/topbarcontroller.h"
#include "ui/applicationwindow.h"
#include "ui/packagedetailwidget.h"
#include "ui/packagewidget.h"
#include "ui/topbar.h"
#include "uifixture.h"

using KOV::Controllers::ApplicationController;
using KOV::Controllers::TopbarController;
using KOV::Models::Package;
using KOVTest::ModalAnswerer;

class TestWindow final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { KOV::sharedIcons()->initFontAwesome(); }
    void topBarRow_data();
    void topBarRow();
    void dragging_data();
    void dragging();
    void middleButtonToggles();
    void windowFollowsController();
    void closeRefusedWhileInstalling();
    void conflictBoxAsksFirst();
    void quitWhileDownloadingAsks();
    void reset_data();
    void reset();

    void keyboardAndScreenReaders();
    void updateAllMovesNothing();
private:
    struct Parts
    {
        QScopedPointer<KOVTest::UiFixture> fixture;
        QSharedPointer<ApplicationController> application;
        QSharedPointer<TopbarController> topbar;
    };
    void makeParts(Parts &parts, const QString &showFilter = "false", const QString &localRepo = "false");
};

void TestWindow::makeParts(Parts &parts, const QString &showFilter, const QString &localRepo)
{
    parts.fixture.reset(new KOVTest::UiFixture(showFilter, localRepo));
    parts.application = QSharedPointer<ApplicationController>::create();
    parts.topbar = QSharedPointer<TopbarController>::create(parts.fixture->settings,
                                                            parts.fixture->controller, parts.application);
}

void TestWindow::topBarRow_data()
{
    QTest::addColumn<QString>("showFilter");
    QTest::addColumn<QString>("localRepo");
    QTest::addColumn<QStringList>("row");
    // Every tool button says what it does.
    const QStringList tools { "TopButton:Refresh", "TopButton:Settings", "TopButton:Reset", "WindowControl" };
    QTest::newRow("plain") << "false"
                           << "false" << (QStringList { "logo", "XPlaneButton:Run X-Plane" } + tools);
    QTest::newRow("filter shown")
        << "true"
        << "false"
        << (QStringList { "logo", "XPlaneButton:Run X-Plane", "search:eg. Jetways", "TopButton:Search (Ctrl+F)" } + tools);
    QTest::newRow("filter in other case counts as shown")
        << "False"
        << "false"
        << (QStringList { "logo", "XPlaneButton:Run X-Plane", "search:eg. Jetways", "TopButton:Search (Ctrl+F)" } + tools);
    QTest::newRow("local repository")
        << "false"
        << "TRUE"
        << (QStringList { "logo", "RepoLabel:[Local Repository]", "XPlaneButton:Run X-Plane" } + tools);
    QTest::newRow("other repository value")
        << "false"
        << "yes" << (QStringList { "logo", "XPlaneButton:Run X-Plane" } + tools);
}

void TestWindow::topBarRow()
{
    QFETCH(QString, showFilter);
    QFETCH(QString, localRepo);
    QFETCH(QStringList, row);
    Parts parts;
    makeParts(parts, showFilter, localRepo);
    KOV::Ui::TopBar bar(parts.topbar);
    bar.show();
    QCOMPARE(bar.objectName(), QStringLiteral("TopBar"));
    QCOMPARE(bar.maximumHeight(), 75);

    QStringList seen;
    int stretches = 0;
    for (int i = 0; i < bar.layout()->count(); ++i) {
        QLayoutItem *item = bar.layout()->itemAt(i);
        QWidget *widget = item->widget();
        if (!widget) {
            ++stretches;
            continue;
        }
        if (!widget->isVisible())
            continue;
        if (auto *edit = qobject_cast<QLineEdit *>(widget))
            seen << "search:" + edit->placeholderText();
        else if (auto *button = qobject_cast<QPushButton *>(widget))
            seen << button->objectName() + ":"
                        + (button->text().isEmpty() ? button->toolTip() : button->text());
        else if (auto *label = qobject_cast<QLabel *>(widget))
            seen << (label->objectName().isEmpty() ? QStringLiteral("logo")
                                                   : label->objectName() + ":" + label->text());
        else
            seen << widget->objectName();
    }
    QCOMPARE(seen, row);
    // The stretches, and the space that keeps Reset apart from Refresh.
    QCOMPARE(stretches, localRepo.compare("true", Qt::CaseInsensitive) == 0 ? 5 : 4);
}

void TestWindow::dragging_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<QPoint>("window");
    QTest::newRow("left drag") << int(Qt::LeftButton) << QPoint(30, 25) << QPoint(320, 155);
    QTest::newRow("clamped at the edge") << int(Qt::LeftButton) << QPoint(2000, 2000) << QPoint(600, 280);
    QTest::newRow("right button does nothing") << int(Qt::RightButton) << QPoint(30, 25) << QPoint(300, 140);
}

void TestWindow::dragging()
{
    QFETCH(int, button);
    QFETCH(QPoint, to);
    QFETCH(QPoint, window);
    Parts parts;
    makeParts(parts);
    parts.application->initialize(QSize(1920, 1080));
    KOV::Ui::TopBar bar(parts.topbar);
    bar.resize(1320, 75);
    bar.show();
    QSignalSpy geometry(parts.application.data(), &ApplicationController::geometryChanged);
    const Qt::MouseButton mouse = Qt::MouseButton(button);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), mouse, mouse, Qt::NoModifier);
    QApplication::sendEvent(&bar, &press);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), Qt::NoButton, mouse, Qt::NoModifier);
    QApplication::sendEvent(&bar, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(to), mouse, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&bar, &release);
    QCOMPARE(QPoint(parts.application->x(), parts.application->y()), window);
    QCOMPARE(geometry.count(), mouse == Qt::LeftButton ? 1 : 0);

    // After the release, moving does nothing.
    QMouseEvent after(QEvent::MouseMove, QPointF(500, 500), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&bar, &after);
    QCOMPARE(QPoint(parts.application->x(), parts.application->y()), window);
}

void TestWindow::middleButtonToggles()
{
    Parts parts;
    makeParts(parts);
    KOV::Ui::TopBar bar(parts.topbar);
    auto *control = bar.findChild<KOV::Components::WindowControl *>();
    QVERIFY(control);
    const QList<QPushButton *> buttons = control->findChildren<QPushButton *>();
    QCOMPARE(buttons.size(), 3);
    QPushButton *middle = buttons.at(1);
    QCOMPARE(middle->width(), 32);
    const QIcon maximizeIcon = KOV::sharedIcons()->icon(0xF2D0, KOV::darkIconOptions());
    const QIcon restoreIcon = KOV::sharedIcons()->icon(0xF2D2, KOV::darkIconOptions());
    QVERIFY(KOVTest::sameIcon(middle->icon(), maximizeIcon));

    middle->click();
    QCOMPARE(parts.application->state(), ApplicationController::MAXIMIZED);
    QVERIFY(KOVTest::sameIcon(middle->icon(), restoreIcon));
    middle->click();
    QCOMPARE(parts.application->state(), ApplicationController::NORMAL);
    QVERIFY(KOVTest::sameIcon(middle->icon(), maximizeIcon));
    buttons.at(0)->click();
    QCOMPARE(parts.application->state(), ApplicationController::MINIMIZED);
    QSignalSpy exit(parts.application.data(), &ApplicationController::exitRequest);
    buttons.at(2)->click();
    QCOMPARE(exit.count(), 1);
}

void TestWindow::windowFollowsController()
{
    Parts parts;
    makeParts(parts);
    KOV::Ui::ApplicationWindow window(parts.application, parts.fixture->controller, parts.topbar);
    QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(window.objectName(), QStringLiteral("ApplicationWindow"));
    // 1320 x 800, or the screen's available area when that is smaller (the offscreen one is).
    QCOMPARE(window.size(), QSize(1320, 800).boundedTo(QGuiApplication::primaryScreen()->availableGeometry().size()));
    QVERIFY(qApp->styleSheet().startsWith(QStringLiteral("QMainWindow#ApplicationWindow")));
    window.show();
    parts.application->setState(ApplicationController::MAXIMIZED);
    QVERIFY(window.windowState() & Qt::WindowMaximized);
    parts.application->move(10, 10);
    parts.application->setState(ApplicationController::NORMAL);
    QVERIFY(!(window.windowState() & Qt::WindowMaximized));
    emit parts.application->styleChanged(QStringLiteral("QLabel { color: red; }"));
    QCOMPARE(qApp->styleSheet(), QStringLiteral("QLabel { color: red; }"));
    emit parts.application->exitRequest();
    QVERIFY(!window.isVisible());
    qApp->setStyleSheet(QString());
}

void TestWindow::closeRefusedWhileInstalling()
{
    Parts parts;
    makeParts(parts);
    // Big enough that 7-Zip takes a moment over it.
    KOVTest::UiFixture &fixture = *parts.fixture;
    QByteArray big(40 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator(5).fillRange(reinterpret_cast<quint32 *>(big.data()), big.size() / 4);
    KOVTest::writeFile(fixture.home.path() + "/src/slow/big.bin", big);
    fixture.addPackage(9, "Slow", { "1.0" });
    KOVTest::make7z(fixture.home.path() + "/served/p9-1.0.7z", fixture.home.path() + "/src/slow",
                    { "-mx=1" });
    fixture.publish();

    KOV::Ui::ApplicationWindow window(parts.application, fixture.controller, parts.topbar);
    window.show();
    QString version;
    // The list page loads the catalogue again from the server.
    QTRY_VERIFY_WITH_TIMEOUT(fixture.package(9), 10000);
    fixture.controller->installPackage(fixture.package(9), version);
    QTRY_VERIFY_WITH_TIMEOUT(fixture.controller->isInstalling(), 20000);

    ModalAnswerer answerer;
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Ok));
    window.close();
    QVERIFY(window.isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(answerer.allAnswered(), 5000);
    QCOMPARE(
        answerer.seen().value(0),
        QStringLiteral("Installation in progress|There is a installation in progress.\n\nTry closing the "
                       "application after the installation is completed"));

    QTRY_VERIFY_WITH_TIMEOUT(!fixture.controller->isInstalling(), 30000);
    window.close();
    QVERIFY(!window.isVisible());
}

void TestWindow::conflictBoxAsksFirst()
{
    Parts parts;
    makeParts(parts);
    KOVTest::UiFixture &fixture = *parts.fixture;
    fixture.addPackage(7, "Scenery", { "1.0" });
    fixture.addPackage(8, "Scenery Fix", { "1.0" });
    // The fix unpacks into the folder of the scenery and brings its own file.txt.
    QJsonObject fix = fixture.catalogue.at(1).toObject();
    QJsonArray versions = fix.value("versions").toArray();
    QJsonObject version = versions.at(0).toObject();
    version["install"] = QJsonObject { { "extract", "Resources/plugins/P7" } };
    versions[0] = version;
    fix["versions"] = versions;
    fixture.catalogue[1] = fix;
    fixture.publish();

    KOV::Ui::ApplicationWindow window(parts.application, fixture.controller, parts.topbar);
    window.show();
    QTRY_VERIFY_WITH_TIMEOUT(fixture.package(8), 10000);
    QString latest;
    fixture.controller->installPackage(fixture.package(7), latest);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.package(7)->state(), Package::INSTALLED, 20000);

    const QString file = fixture.xp("Resources/plugins/P7/file.txt");
    ModalAnswerer answerer;
    answerer.enqueue(ModalAnswerer::button(QMessageBox::No));
    latest.clear();
    fixture.controller->installPackage(fixture.package(8), latest);
    QTRY_VERIFY_WITH_TIMEOUT(answerer.allAnswered(), 20000);
    QCOMPARE(answerer.seen().value(0),
             QStringLiteral("Scenery Fix|These files belong to Scenery. Overwrite them?"));
    QTRY_COMPARE_WITH_TIMEOUT(fixture.package(8)->state(), Package::AVAILABLE, 5000);
    QCOMPARE(KOVTest::readFile(file), QByteArray("Scenery 1.0"));

    answerer.enqueue(ModalAnswerer::button(QMessageBox::Yes));
    latest.clear();
    fixture.controller->installPackage(fixture.package(8), latest);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.package(8)->state(), Package::INSTALLED, 20000);
    QCOMPARE(answerer.seen().size(), 2);
    QCOMPARE(KOVTest::readFile(file), QByteArray("Scenery Fix 1.0"));
}

void TestWindow::quitWhileDownloadingAsks()
{
    Parts parts;
    makeParts(parts);
    KOVTest::UiFixture &fixture = *parts.fixture;
    fixture.addPackage(9, "Slow", { "1.0" });
    fixture.publish();
    KOVTest::HttpServer::Behaviour slow;
    slow.trickleBytes = 1;
    slow.trickleIntervalMs = 50;
    fixture.server.setBehaviour("/p9-1.0.7z", slow);
    KOV::Ui::ApplicationWindow window(parts.application, fixture.controller, parts.topbar);
    window.show();
    QTRY_VERIFY_WITH_TIMEOUT(fixture.package(9), 10000);
    QString version;
    fixture.controller->installPackage(fixture.package(9), version);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(KOVTest::cachedFile(fixture.home.path() + "/cache", fixture.server.url("/p9-1.0.7z"))).size() > 0, 10000);
    QVERIFY(fixture.downloads->hasRunningDownloads());

    ModalAnswerer answerer;
    answerer.enqueue(ModalAnswerer::button(QMessageBox::No));
    window.close();
    QTRY_VERIFY(answerer.allAnswered());
    QCOMPARE(answerer.seen().value(0), QStringLiteral("Downloads running|Downloads are still running. Quit anyway?"));
    QVERIFY(window.isVisible());
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Yes));
    window.close();
    QTRY_VERIFY(answerer.allAnswered());
    QVERIFY(!window.isVisible());
    // The partial archive stays for the next start.
    QVERIFY(QFileInfo(KOVTest::cachedFile(fixture.home.path() + "/cache", fixture.server.url("/p9-1.0.7z"))).size() > 0);
}

void TestWindow::reset_data()
{
    QTest::addColumn<bool>("installing");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("resets");
    QTest::newRow("confirmed") << false << int(QMessageBox::Yes) << true;
    QTest::newRow("refused") << false << int(QMessageBox::No) << false;
    QTest::newRow("box closed") << false << -1 << false;
    QTest::newRow("during an installation") << true << int(QMessageBox::Ok) << false;
}

void TestWindow::reset()
{
    QFETCH(bool, installing);
    QFETCH(int, answer);
    QFETCH(bool, resets);
    Parts parts;
    makeParts(parts);
    KOVTest::UiFixture &fixture = *parts.fixture;
    fixture.settings->save();
    const QString packagesDb = fixture.home.dataPath() + "/packages.db";
    const QString downloadDb = fixture.home.dataPath() + "/download.db";
    QVERIFY(QFileInfo::exists(packagesDb) && QFileInfo::exists(downloadDb));

    if (installing) {
        QByteArray big(40 * 1024 * 1024, Qt::Uninitialized);
        QRandomGenerator(6).fillRange(reinterpret_cast<quint32 *>(big.data()), big.size() / 4);
        KOVTest::writeFile(fixture.home.path() + "/src/slow/big.bin", big);
        fixture.addPackage(9, "Slow", { "1.0" });
        KOVTest::make7z(fixture.home.path() + "/served/p9-1.0.7z", fixture.home.path() + "/src/slow",
                        { "-mx=1" });
        fixture.publish();
        QString version;
        fixture.controller->installPackage(fixture.package(9), version);
        QTRY_VERIFY_WITH_TIMEOUT(fixture.controller->isInstalling(), 20000);
    }

    KOV::Ui::TopBar bar(parts.topbar);
    bar.show();
    ModalAnswerer answerer;
    answerer.enqueue(answer < 0 ? ModalAnswerer::closeWindow()
                                : ModalAnswerer::button(QMessageBox::StandardButton(answer)));
    bar.confirmReset();
    QVERIFY(answerer.allAnswered());
    QCOMPARE(answerer.seen().value(0).section('|', 0, 0), QStringLiteral("Reset"));
    if (!installing)
        QCOMPARE(answerer.seen().value(0).section('|', 1),
                 QStringLiteral("This action will reset databases and application prefrences.\n\nContinue?"));
    QCOMPARE(!QFileInfo::exists(packagesDb), resets);
    QCOMPARE(!QFileInfo::exists(downloadDb), resets);
    QSettings ini(fixture.home.iniPath(), QSettings::IniFormat);
    QCOMPARE(ini.value("Installation").toString().isEmpty(), resets);
    if (installing)
        QTRY_VERIFY_WITH_TIMEOUT(!fixture.controller->isInstalling(), 30000);
    if (resets)
        KOVTest::clearPendingQuit();
}

void TestWindow::keyboardAndScreenReaders()
{
    Parts parts;
    makeParts(parts, "true");
    KOVTest::UiFixture &fixture = *parts.fixture;
    fixture.addPackage(5, "Five", { "1.0" });
    fixture.addPackage(6, "Six", { "1.0" });
    fixture.publish();
    qApp->setStyleSheet(QString::fromUtf8(KOVTest::readFile(":/resources/style.qss")));
    KOV::Ui::ApplicationWindow window(parts.application, fixture.controller, parts.topbar);
    window.resize(1320, 800);
    window.show();
    QApplication::setActiveWindow(&window);
    QTRY_VERIFY(window.findChild<KOV::Ui::PackageWidget *>());

    // Every button says what it does to a screen reader; one with an icon alone also as a tooltip.
    for (QAbstractButton *button : window.findChildren<QAbstractButton *>()) {
        if (!button->isVisibleTo(&window))
            continue;
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(button);
        QVERIFY(accessible);
        QVERIFY2(!accessible->text(QAccessible::Name).isEmpty(), qPrintable(button->objectName()));
        if (button->text().isEmpty())
            QVERIFY2(!button->toolTip().isEmpty(), qPrintable(accessible->text(QAccessible::Name)));
    }
    // Tab goes from the top bar through the list's tiles and their buttons, and every stop has a name.
    window.findChild<QLineEdit *>()->setFocus();
    QStringList stops;
    for (int i = 0; i < 40; ++i) {
        QWidget *focus = QApplication::focusWidget();
        QVERIFY(focus);
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(focus);
        const QString name = accessible ? accessible->text(QAccessible::Name) : QString();
        if (!qobject_cast<QLineEdit *>(focus) && !qobject_cast<QAbstractItemView *>(focus))
            QVERIFY2(!name.isEmpty(), focus->metaObject()->className());
        stops << name;
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    for (const char *expected : { "Refresh", "Settings", "Reset", "Five", "Six", "Download", "More Detail" })
        QVERIFY2(stops.contains(QLatin1String(expected)), qPrintable(stops.join('|')));
    // Enter on a tile opens its page; Escape, Backspace and Alt+Left go back.
    auto *tile = window.findChild<KOV::Ui::PackageWidget *>();
    tile->setFocus();
    QSignalSpy detail(fixture.controller.data(), &KOV::Controllers::PackageController::detail);
    QTest::keyClick(tile, Qt::Key_Return);
    QCOMPARE(detail.count(), 1);
    auto *page = window.findChild<KOV::Ui::PackageDetailWidget *>();
    QTRY_VERIFY(page->isVisible());
    QSignalSpy list(fixture.controller.data(), &KOV::Controllers::PackageController::list);
    for (const auto &key : { std::make_pair(Qt::Key_Escape, Qt::NoModifier), std::make_pair(Qt::Key_Backspace, Qt::NoModifier),
                             std::make_pair(Qt::Key_Left, Qt::AltModifier) }) {
        fixture.controller->showDetail(fixture.package(5));
        page->findChild<QPushButton *>("BackButton")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), key.first, key.second);
    }
    QCOMPARE(list.count(), 3);
    qApp->setStyleSheet(QString());
}

void TestWindow::updateAllMovesNothing()
{
    Parts parts;
    makeParts(parts);
    KOVTest::UiFixture &fixture = *parts.fixture;
    fixture.addPackage(5, "Five", { "2.0", "1.0" });
    fixture.publish();
    KOV::Ui::TopBar bar(parts.topbar);
    bar.resize(1320, 75);
    bar.show();
    QTest::qWait(20);
    QMap<QString, int> before;
    for (QPushButton *button : bar.findChildren<QPushButton *>())
        before.insert(button->toolTip() + button->text(), button->mapTo(&bar, QPoint()).x());
    fixture.markInstalled(5, "1.0");
    fixture.package(5)->setHasUpdate(true);
    emit fixture.controller->list();
    QTRY_VERIFY(bar.findChildren<QPushButton *>().size() > 0);
    QPushButton *updateAll = nullptr;
    for (QPushButton *button : bar.findChildren<QPushButton *>()) {
        if (button->text().startsWith("Update all"))
            updateAll = button;
    }
    QTRY_VERIFY(updateAll && updateAll->isVisible());
    for (QPushButton *button : bar.findChildren<QPushButton *>()) {
        if (button != updateAll && button->isVisible() && before.contains(button->toolTip() + button->text()))
            QCOMPARE(button->mapTo(&bar, QPoint()).x(), before.value(button->toolTip() + button->text()));
    }
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
