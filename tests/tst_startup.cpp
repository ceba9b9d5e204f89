#include <QSplashScreen>
#include <QtTest>

#include <QProcess>

#include "app/startup.h"
#include "testsupport.h"

using KOVTest::ModalAnswerer;

// Records every text the splash screen shows.
class SplashRecorder final : public QObject
{
public:
    QStringList messages;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto *splash = qobject_cast<QSplashScreen *>(watched)) {
                connect(
                    splash, &QSplashScreen::messageChanged, this,
                    [this](const QString &message) { messages << message; }, Qt::UniqueConnection);
            }
        }
        return false;
    }
};

class TestStartup final : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void storedFolderSkipsDetection();
    void logHoldsOnlyThisRun();
    void locateFindsFolder();
    void cancelledSelectionEndsWithStatusOne();
    void invalidFolderAsksAgain();
    void logLinesNeverInterleave();
    // Before the German run: its translator stays installed for the rest of the process.
    void secondInstanceLeavesTheFirstAlone();
    void germanFromLoadingFontsOn();

private:
    int run();
    QString iniText() const { return QString::fromUtf8(KOVTest::readFile(m_home->iniPath())); }
    QString logText() const { return QString::fromUtf8(KOVTest::readFile(m_home->dataPath() + "/log.txt")); }
    void addLocate(const QByteArray &output, int exitCode);

    QScopedPointer<KOVTest::TemporaryHome> m_home;
    QScopedPointer<SplashRecorder> m_splash;
    bool m_windowShown = false;
};

void TestStartup::init()
{
    m_home.reset(new KOVTest::TemporaryHome);
    m_splash.reset(new SplashRecorder);
    qApp->installEventFilter(m_splash.data());
}

void TestStartup::cleanup()
{
    qApp->removeEventFilter(m_splash.data());
    m_splash.reset();
    m_home.reset();
}

int TestStartup::run()
{
    // The main window closes itself as soon as it is up, as a user would close it.
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [this] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == QLatin1String("ApplicationWindow") && widget->isVisible()) {
                m_windowShown = true;
                widget->close();
            }
        }
    });
    closer.start(20);
    m_windowShown = false;
    return KOV::runApplication(*static_cast<QApplication *>(QCoreApplication::instance()));
}

void TestStartup::addLocate(const QByteArray &output, int exitCode)
{
    // The marker file tells whether a probe ran at all.
    m_home->addProgram(QStringLiteral("locate"), "touch '" + QFile::encodeName(m_home->path())
                                                     + "/locate-ran'\n" + "printf '%s' '" + output
                                                     + "'\nexit " + QByteArray::number(exitCode) + "\n");
}

void TestStartup::storedFolderSkipsDetection()
{
    addLocate("", 0);
    // The stored folder is not checked again, even when it is gone.
    QVERIFY(KOVTest::writeFile(m_home->iniPath(), "[General]\nInstallation=/nowhere/X-Plane/\nLanguage=\n"));
    ModalAnswerer answerer;

    QCOMPARE(run(), 0);

    QVERIFY(m_windowShown);
    QVERIFY(answerer.seen().isEmpty());
    QVERIFY(!QFileInfo::exists(m_home->path() + "/locate-ran"));
    QCOMPARE(m_splash->messages, QStringList({ "Starting...", "Loading saved configuration...",
                                               "Setting up application language...", "Loading fonts...",
                                               "Initializing...", "Creating UI..." }));

    const QString data = m_home->dataPath() + QLatin1Char('/');
    QVERIFY(QFileInfo(data + "cache").isDir());
    QVERIFY(QFileInfo::exists(data + "download.db"));
    const QString ini = iniText();
    for (const QString &line :
         { QStringLiteral("Installation=/nowhere/X-Plane/"), QStringLiteral("Language=en"),
           "Cache=" + data + "cache/", "Preserve=" + data + "preserve/", "Backup=" + data + "backup/",
           QStringLiteral("ShowFilter=false"), QStringLiteral("LocalRepo=false") })
        QVERIFY2(ini.contains(line + QLatin1Char('\n')), qPrintable(line + " in\n" + ini));
}

void TestStartup::logHoldsOnlyThisRun()
{
    QVERIFY(KOVTest::writeFile(m_home->iniPath(), "[General]\nInstallation=/xp/\n"));
    QVERIFY(KOVTest::writeFile(m_home->dataPath() + "/log.txt", "a line of an earlier run\n"));
    QCOMPARE(run(), 0);
    const QString first = logText();
    QVERIFY2(first.startsWith(QStringLiteral("Loading settings from :  \"%1\"\n").arg(m_home->iniPath())),
             qPrintable(first));
    QVERIFY(!first.contains(QStringLiteral("earlier run")));

    QVERIFY(KOVTest::writeFile(m_home->dataPath() + "/log.txt", "a line of an earlier run\n"));
    QCOMPARE(run(), 0);
    QVERIFY(logText().startsWith(QStringLiteral("Loading settings from : ")));
    QVERIFY(!logText().contains(QStringLiteral("earlier run")));
}

void TestStartup::locateFindsFolder()
{
    const QString root = m_home->path() + "/X-Plane 12";
    QVERIFY(KOVTest::writeFile(root + "/X-Plane-x86_64", "#!"));
    addLocate(QFile::encodeName(root) + "/X-Plane-x86_64\n", 0);
    ModalAnswerer answerer;

    QCOMPARE(run(), 0);

    QVERIFY(answerer.seen().isEmpty());
    QVERIFY(iniText().contains("Installation=" + root + "/\n"));
    QCOMPARE(m_splash->messages.mid(4, 4),
             QStringList(
                 { "Auto-detecting X-Plane installation...1", "Auto-detecting X-Plane installation...2",
                   "Auto-detecting X-Plane installation...3", "Auto-detecting X-Plane installation...4" }));
    QCOMPARE(m_splash->messages.at(8), QStringLiteral("Initializing..."));
}

void TestStartup::cancelledSelectionEndsWithStatusOne()
{
    addLocate("", 1);
    ModalAnswerer answerer;
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Ok));
    answerer.enqueue(ModalAnswerer::cancelDialog());
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Ok));

    QCOMPARE(run(), 1);

    QVERIFY(answerer.allAnswered());
    QCOMPARE(
        answerer.seen(),
        QStringList({ "Auto-dectection failed|Unable to determine XPlane installation path.\n\nPlease select "
                      "the XPlane folder in the next dialog",
                      "QFileDialog|Select the XPlane folder",
                      "Dectection failed|Unable to determine XPlane installation path.\n\nApplication cannot "
                      "continue further." }));
    QVERIFY(QFileInfo::exists(m_home->path() + "/locate-ran"));
    QCOMPARE(m_splash->messages.at(8), QStringLiteral("Manual-detecting X-Plane installation..."));
    QVERIFY(!m_splash->messages.contains(QStringLiteral("Initializing...")));
    QVERIFY(!QFileInfo::exists(m_home->iniPath()));
    KOVTest::clearPendingQuit();
}

void TestStartup::invalidFolderAsksAgain()
{
    addLocate("", 0);
    const QString wrong = m_home->path() + "/Not X-Plane";
    const QString right = m_home->path() + "/X Plane";
    QVERIFY(QDir().mkpath(wrong));
    // Any entry of that name counts, a folder too.
    QVERIFY(QDir().mkpath(right + "/X-Plane-x86_64"));

    ModalAnswerer answerer;
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Ok));
    answerer.enqueue(ModalAnswerer::chooseFolder(wrong));
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Ok));
    answerer.enqueue(ModalAnswerer::chooseFolder(right));

    const int status = run();
    QVERIFY2(status == 0, qPrintable(answerer.seen().join(QLatin1Char(';'))));

    QVERIFY(answerer.allAnswered());
    QCOMPARE(answerer.seen().at(2),
             QStringLiteral(
                 "Invalid Folder|Oops...this doesn't seem to be a XPlane installation folder.\n\nTry again"));
    QCOMPARE(answerer.seen().size(), 4);
    QVERIFY(iniText().contains("Installation=" + right + "/\n"));
    const QString log = logText();
    QVERIFY2(log.contains(QStringLiteral("Checking directory :  \"%1/X-Plane-x86_64\"\n").arg(wrong)),
             qPrintable(log));
    QVERIFY(log.contains(QStringLiteral("Checking directory :  \"%1/X-Plane-x86_64\"\n").arg(right)));
}

void TestStartup::logLinesNeverInterleave()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Tarrowmere"));
    QCoreApplication::setApplicationName(QStringLiteral("KOV Vazuv"));
    QFile::remove(KOV::logFilePath());
    const QString line = QString(200, QLatin1Char('x'));
    QVector<QThread *> threads;
    for (int t = 0; t < 4; ++t) {
        threads << QThread::create([line] {
            for (int i = 0; i < 100; ++i)
                KOV::logMessageHandler(QtDebugMsg, QMessageLogContext(), line);
        });
        threads.last()->start();
    }
    for (QThread *thread : qAsConst(threads)) {
        QVERIFY(thread->wait(30000));
        delete thread;
    }
    const QStringList lines = logText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 401);
    for (int i = 0; i < 400; ++i)
        QCOMPARE(lines.at(i), line);
}

void TestStartup::germanFromLoadingFontsOn()
{
    // Runs last: the translator stays installed for the rest of the process.
    QVERIFY(KOVTest::writeFile(m_home->iniPath(), "[General]\nInstallation=/xp/\nLanguage=de\n"));
    QCOMPARE(run(), 0);
    const QStringList messages = m_splash->messages;
    QCOMPARE(messages.size(), 6);
    QCOMPARE(messages.mid(0, 3), QStringList({ "Starting...", "Loading saved configuration...",
                                               "Setting up application language..." }));
    QCOMPARE(messages.at(3), QCoreApplication::translate("QSplashScreen", "Loading fonts..."));
    QVERIFY(messages.at(3) != QStringLiteral("Loading fonts..."));
    QVERIFY(messages.at(5) != QStringLiteral("Creating UI..."));
}

void TestStartup::secondInstanceLeavesTheFirstAlone()
{
    QVERIFY(KOVTest::writeFile(m_home->iniPath(), "[General]\nInstallation=/xp/\nLocalRepo=true\n"));
    QProcess first;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("ASAN_OPTIONS", "detect_leaks=0");
    first.setProcessEnvironment(environment);
    first.start(QCoreApplication::applicationDirPath() + "/KovVazuv", QStringList());
    const QString log = m_home->dataPath() + "/log.txt";
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m_home->dataPath() + "/KovVazuv.lock") && QFileInfo(log).size() > 0,
                             30000);
    QTest::qWait(300);
    const QByteArray firstLog = KOVTest::readFile(log);

    ModalAnswerer answerer;
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Ok));
    QCOMPARE(KOV::runApplication(*static_cast<QApplication *>(QCoreApplication::instance())), 0);
    QCOMPARE(answerer.seen(), QStringList { "KOV Vazuv|KovVazuv is already running." });
    // The first one runs on, its log as it wrote it.
    QCOMPARE(first.state(), QProcess::Running);
    QCOMPARE(KOVTest::readFile(log), firstLog);
    first.kill();
    QVERIFY(first.waitForFinished(10000));
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
