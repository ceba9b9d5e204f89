#include <QtTest>

#include "catalogueharness.h"
#include "signatureharness.h"
#include "testsupport.h"

/** Replays the fuzzers' corpora and every input that once made one fail. */
class TestFuzzRegression final : public QObject
{
    Q_OBJECT
private slots:
    void replay_data();
    void replay();

private:
    QScopedPointer<KOVTest::TemporaryHome> m_home;
    QScopedPointer<KOVFuzz::CatalogueHarness> m_harness;
};

void TestFuzzRegression::replay_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("signature");
    for (const char *folder : { "corpus", "crashes", "signature-corpus", "signature-crashes" }) {
        const QDir dir(QStringLiteral(KOV_SOURCE_DIR "/tests/fuzz/") + QLatin1String(folder));
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
            QTest::newRow(qPrintable(QLatin1String(folder) + '/' + name))
                << dir.filePath(name) << QByteArray(folder).startsWith("signature");
    }
}

void TestFuzzRegression::replay()
{
    QFETCH(QString, path);
    QFETCH(bool, signature);
    if (signature) {
        KOVFuzz::checkSignature(KOVTest::readFile(path));
        return;
    }
    if (!m_harness) {
        // Every input writes to packages.db; in memory that takes a fraction of the time.
        if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
            qputenv("TMPDIR", "/dev/shm");
        m_home.reset(new KOVTest::TemporaryHome);
        QCoreApplication::setOrganizationName(QStringLiteral("Tarrowmere"));
        QCoreApplication::setApplicationName(QStringLiteral("KOV Vazuv"));
        m_harness.reset(new KOVFuzz::CatalogueHarness(m_home->path()));
    }
    QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    m_harness->run(KOVTest::readFile(path));
    qInstallMessageHandler(previous);
}

QTEST_MAIN(TestFuzzRegression)
#include "tst_fuzzregression.moc"
