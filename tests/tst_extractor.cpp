#include <QtTest>

#include "extractors/p7zipextractor.h"
#include "testsupport.h"

using KOV::Extractors::P7ZipExtractor;

class TestExtractor final : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void linuxArguments();
    void windowsQuoting_data();
    void windowsQuoting();
    void windowsCommandLine();
    void extractsOverExistingFiles();
    void failsPromptly_data();
    void failsPromptly();
    void refusesEntriesOutside_data();
    void refusesEntriesOutside();
    void linkOutsideIsNotFollowed();

private:
    QString path(const QString &name) const { return m_dir->path() + QLatin1Char('/') + name; }
    QScopedPointer<QTemporaryDir> m_dir;
};

void TestExtractor::init()
{
    m_dir.reset(new QTemporaryDir);
    QDir::setCurrent(m_dir->path());
}

void TestExtractor::cleanup()
{
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    m_dir.reset();
}

void TestExtractor::linuxArguments()
{
    const QStringList arguments = P7ZipExtractor::extractArguments(QStringLiteral("cache/p.7z"),
                                                                   QStringLiteral("/games/X Plane/Custom Scenery/"));
    QCOMPARE(arguments, QStringList({ "x", path("cache/p.7z"), "-o/games/X Plane/Custom Scenery/", "-aoa", "-p" }));
}

void TestExtractor::windowsQuoting_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("quoted");
    QTest::newRow("plain") << "C:\\X-Plane\\p.7z" << "\"C:\\X-Plane\\p.7z\"";
    QTest::newRow("blanks") << "C:\\X Plane 12\\p.7z" << "\"C:\\X Plane 12\\p.7z\"";
    // A trailing backslash would otherwise escape the closing quote.
    QTest::newRow("folder with trailing separator") << "D:\\X Plane\\Custom Scenery\\"
                                                    << "\"D:\\X Plane\\Custom Scenery\\\\\"";
    QTest::newRow("two trailing backslashes") << "D:\\a\\\\" << "\"D:\\a\\\\\\\\\"";
    QTest::newRow("quote inside") << "a\"b" << "\"a\\\"b\"";
    QTest::newRow("backslash before quote") << "a\\\"b" << "\"a\\\\\\\"b\"";
    QTest::newRow("UNC path") << "\\\\server\\share\\x" << "\"\\\\server\\share\\x\"";
}

void TestExtractor::windowsQuoting()
{
    QFETCH(QString, argument);
    QFETCH(QString, quoted);
    QCOMPARE(P7ZipExtractor::windowsQuote(argument), quoted);
}

void TestExtractor::windowsCommandLine()
{
    QCOMPARE(P7ZipExtractor::windowsExtractCommandLine(QStringLiteral("/cache/my p.7z"),
                                                       QStringLiteral("D:\\X Plane\\Custom Scenery\\")),
             QStringLiteral("x \"/cache/my p.7z\" -o\"D:\\X Plane\\Custom Scenery\\\\\" -aoa -p"));
    QCOMPARE(P7ZipExtractor::windowsListCommandLine(QStringLiteral("/cache/p.7z")),
             QStringLiteral("l -slt -p \"/cache/p.7z\""));
}

void TestExtractor::extractsOverExistingFiles()
{
    QVERIFY(KOVTest::writeFile(path("src/plugin/a.txt"), "new a"));
    QVERIFY(KOVTest::writeFile(path("src/plugin/deep/b.txt"), "new b"));
    QVERIFY(KOVTest::make7z(path("p.7z"), path("src")));
    QVERIFY(KOVTest::writeFile(path("dest dir/plugin/a.txt"), "old a"));

    KOVTest::LogCapture log;
    P7ZipExtractor extractor;
    QSignalSpy finished(&extractor, &P7ZipExtractor::finished);
    QElapsedTimer timer;
    timer.start();
    // A relative archive path is resolved against the current folder.
    QVERIFY(extractor.extract(QStringLiteral("p.7z"), path("dest dir/")));
    QVERIFY(timer.elapsed() < 20000);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(KOVTest::readFile(path("dest dir/plugin/a.txt")), QByteArray("new a"));
    QCOMPARE(KOVTest::readFile(path("dest dir/plugin/deep/b.txt")), QByteArray("new b"));
    QVERIFY(log.contains(QStringLiteral("Extract paramenter :  (\"x\", \"%1\", \"-o%2\"").arg(path("p.7z"), path("dest dir/"))));
    QCOMPARE(log.count(QStringLiteral("Extractor Error : ")), 0);
}

void TestExtractor::failsPromptly_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("encrypted") << 0;
    QTest::newRow("encrypted headers") << 1;
    QTest::newRow("truncated") << 2;
    QTest::newRow("not an archive") << 3;
    QTest::newRow("missing") << 4;
}

void TestExtractor::failsPromptly()
{
    QFETCH(int, kind);
    QVERIFY(KOVTest::writeFile(path("src/secret.txt"), QByteArray(100000, 's')));
    if (kind == 0)
        QVERIFY(KOVTest::make7z(path("p.7z"), path("src"), { "-pverysecret" }));
    else if (kind == 1)
        QVERIFY(KOVTest::make7z(path("p.7z"), path("src"), { "-pverysecret", "-mhe=on" }));
    else if (kind == 2) {
        QVERIFY(KOVTest::make7z(path("p.7z"), path("src"), { "-mx=0" }));
        QFile file(path("p.7z"));
        QVERIFY(file.resize(file.size() / 2));
    } else if (kind == 3) {
        QVERIFY(KOVTest::writeFile(path("p.7z"), "<html>Not Found</html>"));
    }

    KOVTest::LogCapture log;
    P7ZipExtractor extractor;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!extractor.extract(path("p.7z"), path("dest/")));
    QVERIFY(timer.elapsed() < 20000);
    // The reason and 7-Zip's exit code, in that order.
    const QStringList errors = log.lines().filter(QRegularExpression(QStringLiteral("^Extractor Error : ")));
    QCOMPARE(errors.size(), 2);
    QVERIFY2(errors.at(1).contains(QRegularExpression(QStringLiteral(" [1-9][0-9]*$"))), qPrintable(errors.at(1)));
}

void TestExtractor::refusesEntriesOutside_data()
{
    QTest::addColumn<bool>("absolute");
    QTest::newRow("../ entry") << false;
    QTest::newRow("absolute entry") << true;
}

void TestExtractor::refusesEntriesOutside()
{
    QFETCH(bool, absolute);
    QVERIFY(KOVTest::writeFile(path("work/inner/ok.txt"), "ok"));
    QVERIFY(KOVTest::writeFile(path("work/evil.txt"), "evil"));
    QProcess sevenZip;
    if (absolute) {
        sevenZip.setWorkingDirectory(path("work"));
        sevenZip.start(QStringLiteral("7z"), { "a", "-bd", "-spf", path("p.7z"), path("work/evil.txt"), "inner/ok.txt" });
    } else {
        sevenZip.setWorkingDirectory(path("work/inner"));
        sevenZip.start(QStringLiteral("7z"), { "a", "-bd", "-spf", path("p.7z"), "../evil.txt", "ok.txt" });
    }
    QVERIFY(sevenZip.waitForFinished(30000));
    QCOMPARE(sevenZip.exitCode(), 0);

    P7ZipExtractor extractor;
    QVERIFY(!extractor.extract(path("p.7z"), path("dest/a/")));
    QVERIFY(!QFileInfo::exists(path("dest/evil.txt")));
    QVERIFY(!QFileInfo::exists(path("dest/a/evil.txt")));
    QVERIFY(!QFileInfo::exists(path("dest/a/ok.txt")));
}

void TestExtractor::linkOutsideIsNotFollowed()
{
    // A link that leads out of the destination, then a file written through it.
    QVERIFY(QDir().mkpath(path("links")));
    QVERIFY(QFile::link(QStringLiteral("../../outside"), path("links/escape")));
    QVERIFY(KOVTest::writeFile(path("through/escape/p.txt"), "written through the link"));
    QVERIFY(QDir().mkpath(path("outside")));
    QProcess first;
    first.setWorkingDirectory(path("links"));
    first.start(QStringLiteral("7z"), { "a", "-bd", "-snl", path("p.7z"), "escape" });
    QVERIFY(first.waitForFinished(30000));
    QProcess second;
    second.setWorkingDirectory(path("through"));
    second.start(QStringLiteral("7z"), { "a", "-bd", path("p.7z"), "escape/p.txt" });
    QVERIFY(second.waitForFinished(30000));

    P7ZipExtractor extractor;
    QVERIFY(!extractor.extract(path("p.7z"), path("dest/x/")));
    QVERIFY(QDir(path("outside")).isEmpty());
    QVERIFY(!QFileInfo::exists(path("dest/outside")));
}

QTEST_MAIN(TestExtractor)
#include "tst_extractor.moc"
