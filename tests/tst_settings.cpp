#include <QtTest>

#include "app/settings.h"
#include "testsupport.h"

using KOV::Settings;

class TestSettings final : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void missingFileGivesEmptyValues();
    void loadReadsStoredKeysOnly();
    void revertRestoresCommittedValues();
    void saveWritesAllSevenKeysInOrder();
    void resetEmptiesFileButKeepsCommittedCopy();

private:
    QScopedPointer<KOVTest::TemporaryHome> m_home;
};

void TestSettings::init()
{
    m_home.reset(new KOVTest::TemporaryHome);
    QCoreApplication::setOrganizationName(QStringLiteral("Tarrowmere"));
    QCoreApplication::setApplicationName(QStringLiteral("KOV Vazuv"));
}

void TestSettings::cleanup()
{
    m_home.reset();
}

void TestSettings::missingFileGivesEmptyValues()
{
    Settings settings;
    QCOMPARE(QDir::cleanPath(settings.fileName()), QDir::cleanPath(m_home->iniPath()));
    for (const Settings::Entry *entry : qAsConst(settings).current().entries())
        QVERIFY2(entry->value.isEmpty(), qPrintable(entry->key));
    QStringList keys;
    for (const Settings::Entry *entry : qAsConst(settings).edited().entries())
        keys << entry->key;
    QCOMPARE(keys, QStringList({ "Installation", "Language", "Cache", "Preserve", "Backup", "ShowFilter",
                                 "LocalRepo" }));
}

void TestSettings::loadReadsStoredKeysOnly()
{
    QVERIFY(KOVTest::writeFile(m_home->iniPath(),
                               "[General]\nInstallation=/games/X-Plane 11/\nLanguage=de\nLocalRepo=TRUE\n"
                               "Unrelated=keep me\n"));
    Settings settings;
    QCOMPARE(settings.current().installation.value, QStringLiteral("/games/X-Plane 11/"));
    QCOMPARE(settings.current().language.value, QStringLiteral("de"));
    QCOMPARE(settings.current().localRepo.value, QStringLiteral("TRUE"));
    QVERIFY(settings.current().cache.value.isEmpty());
    QVERIFY(settings.current().showFilter.value.isEmpty());
    QCOMPARE(settings.edited().installation.value, settings.current().installation.value);
}

void TestSettings::revertRestoresCommittedValues()
{
    QVERIFY(KOVTest::writeFile(m_home->iniPath(), "[General]\nLanguage=en\nCache=/tmp/c/\n"));
    Settings settings;
    settings.edited().language.value = QStringLiteral("de");
    settings.edited().cache.value = QStringLiteral("/elsewhere/");
    settings.edited().installation.value = QStringLiteral("/xp/");
    QCOMPARE(settings.current().language.value, QStringLiteral("en"));
    settings.revert();
    QCOMPARE(settings.edited().language.value, QStringLiteral("en"));
    QCOMPARE(settings.edited().cache.value, QStringLiteral("/tmp/c/"));
    QVERIFY(settings.edited().installation.value.isEmpty());

    settings.edited().language.value = QStringLiteral("de");
    settings.commit();
    QCOMPARE(settings.current().language.value, QStringLiteral("de"));
}

void TestSettings::saveWritesAllSevenKeysInOrder()
{
    {
        Settings settings;
        settings.edited().installation.value = QStringLiteral("/xp/");
        settings.edited().language.value = QStringLiteral("en");
        settings.save();
        // Nothing is committed by saving.
        QVERIFY(settings.current().installation.value.isEmpty());
    }
    const QString ini = QString::fromUtf8(KOVTest::readFile(m_home->iniPath()));
    QVERIFY2(ini.startsWith(QStringLiteral("[General]\n")), qPrintable(ini));
    for (const char *line : { "Installation=/xp/\n", "Language=en\n", "Cache=\n", "Preserve=\n", "Backup=\n",
                              "ShowFilter=\n", "LocalRepo=\n" })
        QVERIFY2(ini.contains(QString::fromLatin1(line)), line);

    Settings again;
    QCOMPARE(again.current().installation.value, QStringLiteral("/xp/"));
}

void TestSettings::resetEmptiesFileButKeepsCommittedCopy()
{
    QVERIFY(KOVTest::writeFile(m_home->iniPath(),
                               "[General]\nInstallation=/xp/\nLanguage=de\nShowFilter=true\n"));
    {
        Settings settings;
        settings.reset();
        QCOMPARE(settings.current().installation.value, QStringLiteral("/xp/"));
        QVERIFY(settings.edited().installation.value.isEmpty());
    }
    QSettings raw(m_home->iniPath(), QSettings::IniFormat);
    QCOMPARE(raw.allKeys().size(), 7);
    for (const QString &key : raw.allKeys())
        QVERIFY2(raw.value(key).toString().isEmpty(), qPrintable(key));
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
