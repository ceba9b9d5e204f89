#include <QtTest>

#include "controllers/applicationcontroller.h"

using KOV::Controllers::ApplicationController;

class TestApplicationController final : public QObject
{
    Q_OBJECT
private slots:
    void centresOnScreen_data();
    void centresOnScreen();
    void clampsToScreen_data();
    void clampsToScreen();
    void smallScreenUpperBoundWins();
    void maximizedIgnoresMoveButSignals();
    void setStateAlwaysSignals();
    void styleSheetHoldsEveryRule();
};

void TestApplicationController::centresOnScreen_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<QSize>("size");
    QTest::newRow("full hd") << QSize(1920, 1080) << QPoint(300, 140) << QSize(1320, 800);
    // Never larger than the screen: the top bar stays on it.
    QTest::newRow("smaller than the window") << QSize(800, 600) << QPoint(0, 0) << QSize(800, 600);
    QTest::newRow("laptop") << QSize(1366, 768) << QPoint(23, 0) << QSize(1320, 768);
    QTest::newRow("scale 2 on 2560 x 1600") << QSize(1280, 760) << QPoint(0, 0) << QSize(1280, 760);
}

void TestApplicationController::centresOnScreen()
{
    QFETCH(QSize, screen);
    QFETCH(QPoint, position);
    QFETCH(QSize, size);
    ApplicationController controller;
    QSignalSpy geometry(&controller, &ApplicationController::geometryChanged);
    controller.initialize(screen);
    QCOMPARE(QPoint(controller.x(), controller.y()), position);
    QCOMPARE(QSize(controller.width(), controller.height()), size);
    QCOMPARE(geometry.count(), 1);
}

void TestApplicationController::clampsToScreen_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<QPoint>("stored");
    QTest::newRow("negative") << -50 << -1 << QPoint(0, 0);
    QTest::newRow("far right and down") << 5000 << 5000 << QPoint(600, 280);
    QTest::newRow("inside") << 17 << 42 << QPoint(17, 42);
    QTest::newRow("right edge") << 600 << 280 << QPoint(600, 280);
}

void TestApplicationController::clampsToScreen()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(QPoint, stored);
    ApplicationController controller;
    controller.initialize(QSize(1920, 1080));
    controller.setX(x);
    controller.setY(y);
    QCOMPARE(QPoint(controller.x(), controller.y()), stored);
}

void TestApplicationController::smallScreenUpperBoundWins()
{
    ApplicationController controller;
    controller.initialize(QSize(800, 600));
    // A drag of a few pixels, as the top bar does it.
    controller.setX(controller.x() + 3);
    controller.setY(controller.y() + 3);
    QCOMPARE(controller.x(), 0);
    QCOMPARE(controller.y(), 0);
}

void TestApplicationController::maximizedIgnoresMoveButSignals()
{
    ApplicationController controller;
    controller.initialize(QSize(1920, 1080));
    controller.setState(ApplicationController::MAXIMIZED);
    QSignalSpy geometry(&controller, &ApplicationController::geometryChanged);
    controller.move(10, 10);
    QCOMPARE(QPoint(controller.x(), controller.y()), QPoint(300, 140));
    QCOMPARE(geometry.count(), 1);

    controller.setState(ApplicationController::NORMAL);
    controller.move(10, 10);
    QCOMPARE(QPoint(controller.x(), controller.y()), QPoint(10, 10));
}

void TestApplicationController::setStateAlwaysSignals()
{
    ApplicationController controller;
    QSignalSpy state(&controller, &ApplicationController::stateChanged);
    controller.setState(ApplicationController::NORMAL);
    controller.setState(ApplicationController::NORMAL);
    QCOMPARE(state.count(), 2);
    QCOMPARE(controller.state(), ApplicationController::NORMAL);
}

void TestApplicationController::styleSheetHoldsEveryRule()
{
    ApplicationController controller;
    QSignalSpy style(&controller, &ApplicationController::styleChanged);
    controller.loadStyle();
    QCOMPARE(style.count(), 1);
    const QString text = style.first().first().toString();
    const QStringList rules = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(rules.size(), 74);
    QCOMPARE(text.count(QLatin1Char('{')), 74);
    QVERIFY(rules.first().startsWith(
        QStringLiteral("QMainWindow#ApplicationWindow { background-color: #2A2A2A")));
    QVERIFY(rules.at(38).startsWith(
        QStringLiteral("QWidget#PackageDetail QWidget#Carousel { margin-bottom: 24px")));
    QVERIFY(rules.last().startsWith(
        QStringLiteral("QScrollBar::add-page:horizontal, QScrollBar::sub-page:horizontal")));
}

QTEST_MAIN(TestApplicationController)
#include "tst_applicationcontroller.moc"
