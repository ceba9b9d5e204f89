#include <QDirIterator>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <functional>

#include "app/startup.h"
#include "httpserver.h"
#include "testsupport.h"
#include "ui/packagedetailtitlebar.h"
#include "ui/packagesidebar.h"
#include "ui/packagewidget.h"
#include "ui/tilelist.h"

using KOV::Ui::TileList;
using KOVTest::ModalAnswerer;

namespace {

// The tile showing a package, found by the name on it.
KOV::Ui::PackageWidget *tile(const QString &name)
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        for (auto *candidate : top->findChildren<KOV::Ui::PackageWidget *>()) {
            for (QLabel *label : candidate->findChildren<QLabel *>()) {
                if (label->text() == name)
                    return candidate;
            }
        }
    }
    return nullptr;
}

QPushButton *buttonNamed(QWidget *parent, const QString &text)
{
    if (!parent)
        return nullptr;
    for (QPushButton *button : parent->findChildren<QPushButton *>()) {
        if (button->text() == text && button->isVisible())
            return button;
    }
    return nullptr;
}

QString actionOf(const QString &name)
{
    KOV::Ui::PackageWidget *found = tile(name);
    return found ? found->findChildren<QPushButton *>().first()->objectName() : QString();
}

QWidget *mainWindow()
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (top->objectName() == QLatin1String("ApplicationWindow"))
            return top;
    }
    return nullptr;
}

// Every file below `folder`, relative to it: what the packages brought must go again.
QStringList filesIn(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

// Types into the top bar's search field and picks what the sidebar's Show combo offers at `show`.
void narrow(const QString &text, int show)
{
    mainWindow()->findChild<QLineEdit *>()->setText(text);
    mainWindow()->findChild<KOV::Ui::PackageSidebar *>()->findChildren<QComboBox *>().at(1)->setCurrentIndex(show);
}

QStringList shownTiles()
{
    QStringList names;
    auto *list = mainWindow()->findChild<TileList *>();
    for (int row = 0; list && row < list->count(); ++row) {
        if (!list->isRowHidden(row))
            names << list->tile(row)->findChild<QLabel *>()->text();
    }
    return names;
}

KOV::Ui::PackageDetailTitleBar *titleBar()
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (auto *bar = top->findChild<KOV::Ui::PackageDetailTitleBar *>())
            return bar;
    }
    return nullptr;
}

} // namespace

/** Runs the program's whole start-up on the demo catalogue and uses it as a person would. */
class TestEndToEnd final : public QObject
{
    Q_OBJECT
private slots:
    void installAndUninstallAsAUser();

private:
    QString xp(const QString &relative) const { return m_xplane + "/" + relative; }
    QList<QPair<int, int>> rows() const;

    QString m_xplane;
    QString m_data;
};

QList<QPair<int, int>> TestEndToEnd::rows() const
{
    QList<QPair<int, int>> result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "inspect");
        db.setDatabaseName(m_data + "/packages.db");
        if (db.open()) {
            QSqlQuery query("SELECT package_id, status FROM packages ORDER BY package_id", db);
            while (query.next())
                result << qMakePair(query.value(0).toInt(), query.value(1).toInt());
        }
    }
    QSqlDatabase::removeDatabase("inspect");
    return result;
}

void TestEndToEnd::installAndUninstallAsAUser()
{
    KOVTest::TemporaryHome home;
    KOVTest::HttpServer server;
    QVERIFY(server.listen());
    const QString demo = home.path() + "/demo";
    QProcess make;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("ASAN_OPTIONS", "detect_leaks=0");
    make.setProcessEnvironment(environment);
    make.start(QCoreApplication::applicationDirPath() + "/kov-make-demo",
               { "--out", demo, "--base-url", server.url("/") });
    QVERIFY(make.waitForFinished(120000));
    QCOMPARE(make.exitCode(), 0);
    server.setRoot(demo + "/served");

    // The local repository points the program at this server's free port.
    const QString catalogue = QCoreApplication::applicationDirPath() + "/packages.json";
    QVERIFY(QFile::copy(demo + "/served/packages.json", catalogue));
    m_xplane = demo + "/X-Plane 12";
    m_data = home.dataPath();
    QVERIFY(KOVTest::writeFile(
        home.iniPath(),
        QStringLiteral("[General]\nInstallation=%1/\nLocalRepo=true\nShowFilter=true\n").arg(m_xplane).toUtf8()));
    const QByteArray originalRunway = KOVTest::readFile(xp("Resources/default scenery/runway.txt"));
    QVERIFY(!originalRunway.isEmpty());
    const QStringList filesBefore = filesIn(m_xplane);

    // What the user does, one step after the other; each step returns true once it is done.
    ModalAnswerer answerer;
    QStringList done;
    QString failure;
    QList<QPair<QString, std::function<bool()>>> steps {
        { "tiles shown",
          [] {
              return tile("HD Runways") != nullptr;
          } },
        { "download Ground Traffic",
          [&] {
              answerer.enqueue(ModalAnswerer::button(QMessageBox::Yes));
              tile("Ground Traffic")->findChildren<QPushButton *>().first()->click();
              return true;
          } },
        { "library and plugin installed",
          [] {
              return actionOf("Ground Traffic") == "Installed" && actionOf("KOV Library") == "Installed";
          } },
        { "download HD Runways",
          [] {
              tile("HD Runways")->findChildren<QPushButton *>().first()->click();
              return true;
          } },
        { "runways installed",
          [] {
              return actionOf("HD Runways") == "Installed";
          } },
        { "search for \"ra\" among the installed packages",
          [] {
              narrow("ra", 1);
              return true;
          } },
        { "two of the three installed ones shown",
          [] {
              if (shownTiles().size() != 2)
                  return false;
              // The screenshot of the README, when asked for.
              const QString screenshot = qEnvironmentVariable("KOV_SEARCH_SCREENSHOT");
              if (!screenshot.isEmpty())
                  mainWindow()->grab().save(screenshot);
              return true;
          } },
        { "clear the search and the filter",
          [] {
              narrow(QString(), 0);
              return shownTiles().size() > 3;
          } },
        { "open the library's page",
          [] {
              buttonNamed(tile("KOV Library"), "More Detail")->click();
              return true;
          } },
        { "uninstall the library",
          [&] {
              answerer.enqueue(ModalAnswerer::button(QMessageBox::Yes));
              buttonNamed(titleBar(), "Uninstall")->click();
              return true;
          } },
        { "library gone",
          [] {
              return actionOf("KOV Library") == "Download" && actionOf("Ground Traffic") == "Download";
          } },
        { "back, and open the runways' page",
          [] {
              for (QWidget *top : QApplication::topLevelWidgets()) {
                  if (auto *back = top->findChild<QPushButton *>("BackButton"))
                      back->click();
              }
              buttonNamed(tile("HD Runways"), "More Detail")->click();
              return true;
          } },
        { "uninstall the runways",
          [&] {
              answerer.enqueue(ModalAnswerer::button(QMessageBox::Yes));
              buttonNamed(titleBar(), "Uninstall")->click();
              return true;
          } },
        // The uninstallation runs on the worker; closing before it ends would ask to wait.
        { "runways gone",
          [] {
              return actionOf("HD Runways") == "Download";
          } },
        { "close the window",
          [] {
              for (QWidget *top : QApplication::topLevelWidgets()) {
                  if (top->objectName() == "ApplicationWindow")
                      top->close();
              }
              return true;
          } },
    };

    // The README's screenshots, when asked for: the list, a download in progress (slowed down to be
    // seen) and a detail page, each once its pictures had a moment to arrive.
    const QString screenshots = qEnvironmentVariable("KOV_SCREENSHOTS");
    if (!screenshots.isEmpty()) {
        KOVTest::HttpServer::Behaviour slow;
        slow.trickleBytes = 32 * 1024;
        slow.trickleIntervalMs = 100;
        server.setBehaviour("/p6-1.0.0.7z", slow);
        const auto after = [&steps](const QString &name, const QString &shot,
                                    std::function<bool()> ready = [] { return true; }) {
            auto clock = QSharedPointer<QElapsedTimer>::create();
            int at = 0;
            while (at < steps.size() && steps.at(at).first != name)
                ++at;
            steps.insert(at + 1, { "screenshot " + shot, [clock, shot, ready] {
                                      if (!clock->isValid())
                                          clock->start();
                                      if (clock->elapsed() < 1500 || !ready())
                                          return false;
                                      return mainWindow()->grab().save(shot);
                                  } });
        };
        after("tiles shown", screenshots + "/list.png");
        after("download HD Runways", screenshots + "/download.png", [] {
            mainWindow()->findChild<TileList *>()->scrollToBottom();
            auto *progress = tile("HD Runways")->findChild<QLabel *>("ProgressText");
            return progress && progress->isVisible() && progress->text().contains("left");
        });
        after("open the library's page", screenshots + "/detail.png");
    }

    // Checks made while the program runs, between the steps.
    QByteArray installedRunway;
    QTimer driver;
    QElapsedTimer clock;
    clock.start();
    connect(&driver, &QTimer::timeout, this, [&] {
        if (done.size() == steps.size())
            return;
        if (clock.elapsed() > 90000) {
            // An unanswered box would keep the program from ever closing.
            if (QWidget *modal = QApplication::activeModalWidget()) {
                failure = "unanswered box at: " + steps.at(done.size()).first;
                modal->close();
                return;
            }
            if (failure.isEmpty())
                failure = "timed out at: " + steps.at(done.size()).first;
            for (QWidget *top : QApplication::topLevelWidgets())
                top->close();
            return;
        }
        if (QApplication::activeModalWidget())
            return;
        const auto &step = steps.at(done.size());
        if (!step.second())
            return;
        done << step.first;
        if (step.first == "runways installed")
            installedRunway = KOVTest::readFile(xp("Resources/default scenery/runway.txt"));
    });
    driver.start(50);

    const int status = KOV::runApplication(*static_cast<QApplication *>(QCoreApplication::instance()));
    QFile::remove(catalogue);
    QVERIFY2(failure.isEmpty(), qPrintable(failure + " after " + done.join(", ")));
    QCOMPARE(status, 0);
    QCOMPARE(done.size(), steps.size());

    QCOMPARE(answerer.seen().value(0),
             QStringLiteral(
                 "Install Package|This package is dependent on following packages and will be installed "
                 "if not already installed or upgraded if outdated along with this package\n\nKOV "
                 "Library 1.1.0\n\nContinue?"));
    QCOMPARE(answerer.seen().value(1).section('|', 1),
             QStringLiteral(
                 "Uninstall KOV Library from this system\n\nFollowing dependent extensions will also be "
                 "uninstalled\n\nGround Traffic\n"));
    QCOMPARE(installedRunway, QByteArray("HD runway texture from HD Runways\n"));

    // Everything the packages brought is gone, X-Plane's own file is back and its saved copy too.
    QVERIFY(!QFileInfo::exists(xp("Custom Data/lib/KOV_Library")));
    QVERIFY(!QFileInfo::exists(xp("Resources/plugins/GroundTraffic")));
    QVERIFY(!QFileInfo::exists(xp("Resources/plugins/HDRunways")));
    QCOMPARE(filesIn(m_xplane), filesBefore);
    QCOMPARE(KOVTest::readFile(xp("Resources/default scenery/runway.txt")), originalRunway);
    QVERIFY(!QFileInfo::exists(m_data + "/backup/Resources/default scenery/runway.txt"));
    QVERIFY(QFileInfo::exists(xp("X-Plane-x86_64")));

    QCOMPARE(rows(), (QList<QPair<int, int>> { { 1, 0 }, { 2, 0 }, { 6, 0 } }));
    const QString log = QString::fromUtf8(KOVTest::readFile(m_data + "/log.txt"));
    QVERIFY(log.startsWith("Loading settings from :  \"" + home.iniPath() + "\"\n"));
    QCOMPARE(log.count("Extract paramenter : "), 3);
    QVERIFY(log.contains("Removing directory :  \"" + m_xplane + "//Resources/plugins/GroundTraffic\""));
    QVERIFY(log.contains("Removing file : "));
    QVERIFY(!log.contains("Extractor Error"));
    // The archives were deleted once installed.
    QCOMPARE(QDir(m_data + "/cache").entryList({ "*.7z" }, QDir::Files), QStringList());
    QCOMPARE(server.requestLines().filter(QRegularExpression("^GET /p1-.*\\.7z")).size(), 1);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
