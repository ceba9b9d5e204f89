#include <QtTest>

#include <sys/wait.h>
#include <unistd.h>

#include "controllers/filetransaction.h"
#include "testsupport.h"

using KOV::Controllers::FileTransaction;

namespace {

// Every path below `root` with its contents ("<dir>" for folders), hidden names included.
QMap<QString, QByteArray> snapshot(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(root).relativeFilePath(path),
                     QFileInfo(path).isDir() ? QByteArray("<dir>") : KOVTest::readFile(path));
    }
    return files;
}

} // namespace

/**
 * The log of a file transaction, read by another process after this one died: undoing it gives back the
 * folder as it was, whatever step the process died at, and undoing twice changes nothing.
 */
class TestFileTransaction final : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void killedAtEachStep_data();
    void killedAtEachStep();
    void finishedAfterTheLastStep();
    void cutLineIsIgnored();

private:
    // Runs the steps in a child process that dies at `dieAt` (logged, not taken), or after all of them
    // when `dieAt` is past the end; after them it rolls back when `rollBack`.
    void runAndDie(int dieAt, bool rollBack = false);

    QScopedPointer<QTemporaryDir> m_dir;
    QString m_root;
    QString m_staged;
    QString m_log;
    QMap<QString, QByteArray> m_before;
};

void TestFileTransaction::init()
{
    m_dir.reset(new QTemporaryDir);
    m_root = m_dir->path() + "/root";
    m_staged = m_dir->path() + "/staged";
    m_log = m_dir->path() + "/transaction.log";
    QVERIFY(KOVTest::writeFile(m_root + "/a.txt", "old a"));
    QVERIFY(KOVTest::writeFile(m_root + "/dir/b.txt", "old b"));
    QVERIFY(KOVTest::writeFile(m_staged + "/a.txt", "new a"));
    QVERIFY(KOVTest::writeFile(m_staged + "/c.txt", "new c"));
    QVERIFY(KOVTest::writeFile(m_staged + "/tree/d.txt", "new d"));
    m_before = snapshot(m_root);
}

void TestFileTransaction::runAndDie(int dieAt, bool rollBack)
{
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        // No destructor may run here: the child dies as a killed program would.
        FileTransaction::setStepHook([dieAt](int step) {
            if (step == dieAt)
                _exit(0);
        });
        auto *transaction = new FileTransaction;
        const bool done = transaction->setLog(m_log) && transaction->moveAside(m_root + "/a.txt")
                          && transaction->moveInto(m_staged + "/a.txt", m_root + "/a.txt")
                          && transaction->moveAside(m_root + "/dir")
                          && transaction->copyInto(m_staged + "/c.txt", m_root + "/dir/c.txt")
                          && transaction->moveInto(m_staged + "/tree", m_root + "/new/deeper/tree");
        if (done && rollBack)
            transaction->rollback();
        _exit(!done ? 1 : dieAt < 99 ? 2 : 0);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

void TestFileTransaction::killedAtEachStep_data()
{
    QTest::addColumn<int>("dieAt");
    QTest::addColumn<bool>("rollBack");
    // aside a, place a, aside dir, make dir, place c, make new, make deeper, place tree: 8 steps.
    for (int step = 0; step < 8; ++step)
        QTest::addRow("at step %d", step) << step << false;
    QTest::newRow("after the last step") << 99 << false;
    QTest::newRow("after its own rollback") << 99 << true;
}

void TestFileTransaction::killedAtEachStep()
{
    QFETCH(int, dieAt);
    QFETCH(bool, rollBack);
    runAndDie(dieAt, rollBack);
    QVERIFY(FileTransaction::undoLog(m_log));
    QCOMPARE(snapshot(m_root), m_before);
    // A restart killed while undoing undoes again.
    QVERIFY(FileTransaction::undoLog(m_log));
    QCOMPARE(snapshot(m_root), m_before);
}

void TestFileTransaction::finishedAfterTheLastStep()
{
    runAndDie(99);
    QVERIFY(FileTransaction::finishLog(m_log));
    const QMap<QString, QByteArray> expected { { "a.txt", "new a" },
                                               { "dir", "<dir>" },
                                               { "dir/c.txt", "new c" },
                                               { "new", "<dir>" },
                                               { "new/deeper", "<dir>" },
                                               { "new/deeper/tree", "<dir>" },
                                               { "new/deeper/tree/d.txt", "new d" } };
    QCOMPARE(snapshot(m_root), expected);
}

void TestFileTransaction::cutLineIsIgnored()
{
    runAndDie(2);
    // The kill came while the line of the third step was being written: only its start is there.
    QFile log(m_log);
    QVERIFY(log.open(QIODevice::Append));
    log.write("A " + m_root.toUtf8() + "/di");
    log.close();
    QVERIFY(FileTransaction::undoLog(m_log));
    QCOMPARE(snapshot(m_root), m_before);
}

QTEST_GUILESS_MAIN(TestFileTransaction)
#include "tst_filetransaction.moc"
