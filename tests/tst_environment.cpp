#include <QtTest>

#include "app/environment.h"
#include "testsupport.h"

class LanguageChangeCounter final : public QObject
{
public:
    int count = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == qApp && event->type() == QEvent::LanguageChange)
            ++count;
        return false;
    }
};

class TestEnvironment final : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void dataDirIsCreatedDefaultsAreNot();
    void ensureDir();
    void locateXPlane_data();
    void locateXPlane();
    void locateMissingFindsNothing();
    void desktopCandidate();
    void firewallRuleChoice_data();
    void firewallRuleChoice();
    void englishInstallsNoTranslator();
    void germanTranslatorIsInstalled();

private:
    QScopedPointer<KOVTest::TemporaryHome> m_home;
};

void TestEnvironment::init()
{
    m_home.reset(new KOVTest::TemporaryHome);
    QCoreApplication::setOrganizationName(QStringLiteral("Tarrowmere"));
    QCoreApplication::setApplicationName(QStringLiteral("KOV Vazuv"));
}

void TestEnvironment::cleanup()
{
    m_home.reset();
}

void TestEnvironment::dataDirIsCreatedDefaultsAreNot()
{
    const QString expected = m_home->dataPath() + QLatin1Char('/');
    QVERIFY(!QFileInfo::exists(m_home->dataPath()));
    QCOMPARE(KOV::defaultCacheDir(), expected + QStringLiteral("cache/"));
    QVERIFY(QFileInfo(m_home->dataPath()).isDir());
    QCOMPARE(KOV::defaultPreserveDir(), expected + QStringLiteral("preserve/"));
    QCOMPARE(KOV::defaultBackupDir(), expected + QStringLiteral("backup/"));
    QCOMPARE(KOV::dataDir(), expected);
    QVERIFY(!QFileInfo::exists(expected + QStringLiteral("cache")));
    QVERIFY(!QFileInfo::exists(expected + QStringLiteral("preserve")));
    QVERIFY(KOV::applicationDir().endsWith(QLatin1Char('/')));
}

void TestEnvironment::ensureDir()
{
    const QString deep = m_home->path() + QStringLiteral("/a/b/c");
    QVERIFY(!KOV::ensureDir(deep, false));
    QVERIFY(!QFileInfo::exists(deep));
    QVERIFY(KOV::ensureDir(deep, true));
    QVERIFY(QFileInfo(deep).isDir());
    QVERIFY(KOV::ensureDir(deep, false));
    QVERIFY(KOV::ensureDir(deep + QStringLiteral("/d"), false));
}

void TestEnvironment::locateXPlane_data()
{
    // @ROOT@ stands for the test's folder; the fake locate prints the lines and exits with the code.
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expected");

    QTest::newRow("first file wins") << QStringList { "@ROOT@/one/X-Plane-x86_64",
                                                      "@ROOT@/two/X-Plane-x86_64" }
                                     << 0 << "@ROOT@/one/";
    QTest::newRow("folder named like the executable skipped")
        << QStringList { "@ROOT@/dir/X-Plane-x86_64", "@ROOT@/two/X-Plane-x86_64" } << 0 << "@ROOT@/two/";
    QTest::newRow("extension does not match")
        << QStringList { "@ROOT@/ext/X-Plane-x86_64.bak", "@ROOT@/ext/X-Plane-x86_64.d/readme" } << 0 << "";
    QTest::newRow("missing file skipped")
        << QStringList { "@ROOT@/gone/X-Plane-x86_64", "@ROOT@/two/X-Plane-x86_64" } << 0 << "@ROOT@/two/";
    QTest::newRow("non-zero exit finds nothing") << QStringList { "@ROOT@/one/X-Plane-x86_64" } << 1 << "";
    QTest::newRow("no output") << QStringList() << 0 << "";
}

void TestEnvironment::locateXPlane()
{
    QFETCH(QStringList, lines);
    QFETCH(int, exitCode);
    QFETCH(QString, expected);

    const QString root = m_home->path();
    for (const char *file : { "/one/X-Plane-x86_64", "/two/X-Plane-x86_64", "/ext/X-Plane-x86_64.bak" })
        QVERIFY(KOVTest::writeFile(root + QString::fromLatin1(file), "#!"));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/dir/X-Plane-x86_64")));

    QFile list(root + QStringLiteral("/locate-output"));
    QVERIFY(list.open(QIODevice::WriteOnly));
    for (QString line : qAsConst(lines))
        list.write(line.replace(QStringLiteral("@ROOT@"), root).toUtf8() + '\n');
    list.close();
    m_home->addProgram(QStringLiteral("locate"),
                       QStringLiteral("[ \"$1\" = X-Plane-x86_64 ] || exit 9\ncat '%1'\nexit %2\n")
                           .arg(list.fileName())
                           .arg(exitCode)
                           .toUtf8());

    QCOMPARE(KOV::locateXPlane(), expected.replace(QStringLiteral("@ROOT@"), root));
    QCOMPARE(KOV::detectionProbe(3), expected);
    QCOMPARE(KOV::detectionProbe(1), QString());
    QCOMPARE(KOV::detectionProbe(2), QString());
    QCOMPARE(KOV::detectionProbe(4), QString());
}

void TestEnvironment::locateMissingFindsNothing()
{
    m_home->isolatePath();
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(KOV::locateXPlane(), QString());
    QVERIFY(timer.elapsed() < 5000);
}

void TestEnvironment::desktopCandidate()
{
    const QString desktop = m_home->path() + QStringLiteral("/Desktop");
    QCOMPARE(KOV::findXPlaneOnDesktop(QString()), QString());
    QVERIFY(QDir().mkpath(desktop));
    QCOMPARE(KOV::findXPlaneOnDesktop(desktop), QString());
    QVERIFY(KOVTest::writeFile(desktop + QStringLiteral("/X-Plane 11/X-Plane.exe"), "MZ"));
    QCOMPARE(KOV::findXPlaneOnDesktop(desktop), desktop + QStringLiteral("/X-Plane 11/"));
}

void TestEnvironment::firewallRuleChoice_data()
{
    QTest::addColumn<QStringList>("applications");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("none") << QStringList() << "";
    QTest::newRow("unrelated rules") << QStringList { "C:\\Windows\\svchost.exe", "" } << "";
    QTest::newRow("last of two installations wins")
        << QStringList { "C:\\X-Plane 11\\X-Plane.exe", "C:\\Tools\\x.exe",
                         "D:\\Sim\\X-Plane 12\\X-Plane.exe" }
        << "D:\\Sim\\X-Plane 12\\X-Plane.exe";
    QTest::newRow("other letter case matches")
        << QStringList { "C:\\A\\X-Plane.exe", "E:\\XP\\x-plane.EXE" } << "E:\\XP\\x-plane.EXE";
    QTest::newRow("extension after the name does not")
        << QStringList { "C:\\A\\X-Plane.exe", "C:\\B\\X-Plane.exe.bak" } << "C:\\A\\X-Plane.exe";
}

void TestEnvironment::firewallRuleChoice()
{
    QFETCH(QStringList, applications);
    QFETCH(QString, chosen);
    QCOMPARE(KOV::lastXPlaneRuleApplication(applications), chosen);
}

void TestEnvironment::englishInstallsNoTranslator()
{
    LanguageChangeCounter counter;
    qApp->installEventFilter(&counter);
    // An English file must not be loaded even where one exists.
    QDir::setCurrent(m_home->path());
    QVERIFY(QDir().mkpath(m_home->path() + QStringLiteral("/translations")));
    QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/translations/qt_de.qm"),
                        m_home->path() + QStringLiteral("/translations/qt_en.qm")));
    KOV::setupLanguage(QStringLiteral("en"));
    KOV::setupLanguage(QStringLiteral("xx"));
    QCOMPARE(counter.count, 0);
    QCOMPARE(QCoreApplication::translate("QSplashScreen", "Loading fonts..."),
             QStringLiteral("Loading fonts..."));
    qApp->removeEventFilter(&counter);
    QDir::setCurrent(QCoreApplication::applicationDirPath());
}

void TestEnvironment::germanTranslatorIsInstalled()
{
    LanguageChangeCounter counter;
    qApp->installEventFilter(&counter);
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    KOV::setupLanguage(QStringLiteral("de"));
    // The program's translation and Qt's own.
    QCOMPARE(counter.count, 2);
    QVERIFY(QCoreApplication::translate("QSplashScreen", "Loading fonts...")
            != QStringLiteral("Loading fonts..."));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Ja"));
    QVERIFY(QCoreApplication::translate("QMessageBox", "Invalid Folder") != QStringLiteral("Invalid Folder"));
    qApp->removeEventFilter(&counter);
}

QTEST_MAIN(TestEnvironment)
#include "tst_environment.moc"
