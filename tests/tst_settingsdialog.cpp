#include <cmath>
#include <QFileDialog>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include "common/qtawesome.h"
#include "components/fileselector.h"
#include "dialogs/disksettingswidget.h"
#include "dialogs/settingsdialog.h"
#include "uifixture.h"

using KOV::Components::FileSelector;
using KOV::Dialogs::DiskSettingsWidget;
using KOV::Dialogs::SettingsDialog;
using KOVTest::ModalAnswerer;

namespace {

FileSelector *selector(SettingsDialog &dialog, const QString &label)
{
    for (FileSelector *candidate : dialog.findChildren<FileSelector *>()) {
        if (candidate->label() == label)
            return candidate;
    }
    return nullptr;
}

QPushButton *button(SettingsDialog &dialog, const QString &text)
{
    for (QPushButton *candidate : dialog.findChildren<QPushButton *>()) {
        if (candidate->text() == text)
            return candidate;
    }
    return nullptr;
}

// True when a quit was asked for while no event loop ran; clears it.
bool quitRequested()
{
    QEventLoop loop;
    QTimer::singleShot(2000, &loop, [&loop] { loop.exit(7); });
    const int result = loop.exec();
    if (result != 7)
        KOVTest::clearPendingQuit();
    return result != 7;
}

} // namespace

class TestSettingsDialog final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { KOV::sharedIcons()->initFontAwesome(); }
    void init();
    void cleanup();
    void pages();
    void okWithoutChange();
    void workingFolderOnly();
    void savedFilesFollowTheirFolder_data();
    void savedFilesFollowTheirFolder();
    void folderAndLanguageConfirmed();
    void folderConfirmedLanguageRefused();
    void languageKeepsWhatIsKnownOfFiles();
    void invalidXPlaneFolder();
    void browsePicksFolder();
    void folderChooserReadable();
    void typedFolder_data();
    void typedFolder();
    void dismissingReverts_data();
    void dismissingReverts();
    void unknownLanguage();
    void refusedWhileInstalling();
    void formatSize_data();
    void formatSize();
    void folderSize();

private:
    QString packagesDb() const { return m_fixture->home.dataPath() + "/packages.db"; }
    QString otherXPlane() const { return m_fixture->home.path() + "/Other X-Plane"; }

    QScopedPointer<KOVTest::UiFixture> m_fixture;
};

void TestSettingsDialog::init()
{
    m_fixture.reset(new KOVTest::UiFixture);
    KOVTest::writeFile(otherXPlane() + "/X-Plane-x86_64", "#!");
}

void TestSettingsDialog::cleanup()
{
    m_fixture.reset();
}

void TestSettingsDialog::pages()
{
    SettingsDialog dialog(m_fixture->controller, m_fixture->settings);
    QCOMPARE(dialog.objectName(), QStringLiteral("SettingsDialog"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Settings"));
    QCOMPARE(dialog.minimumWidth(), 512);
    auto *tabs = dialog.findChild<QTabWidget *>();
    QCOMPARE(QStringList({ tabs->tabText(0), tabs->tabText(1), tabs->tabText(2) }),
             QStringList({ "General", "Paths", "Disk Usage" }));
    QCOMPARE(selector(dialog, "X-Plane")->value(), m_fixture->xp());
    QCOMPARE(selector(dialog, "Backup")->value(), m_fixture->home.path() + "/backup/");
    auto *combo = dialog.findChild<QComboBox *>();
    QCOMPARE(combo->itemText(1), QStringLiteral("German"));
    QCOMPARE(combo->currentIndex(), 0);
}

void TestSettingsDialog::okWithoutChange()
{
    SettingsDialog dialog(m_fixture->controller, m_fixture->settings);
    ModalAnswerer answerer;
    button(dialog, "Ok")->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(answerer.seen().isEmpty());
    QVERIFY(QFileInfo::exists(packagesDb()));
    QVERIFY(!quitRequested());
}

void TestSettingsDialog::workingFolderOnly()
{
    SettingsDialog dialog(m_fixture->controller, m_fixture->settings);
    ModalAnswerer answerer;
    emit selector(dialog, "Cache")->valueChanged(m_fixture->home.path() + "/new cache");
    emit selector(dialog, "Preserve")->valueChanged(m_fixture->home.path() + "/new preserve");
    button(dialog, "Ok")->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(answerer.seen().isEmpty());
    QCOMPARE(m_fixture->settings->current().cache.value, m_fixture->home.path() + "/new cache/");
    QCOMPARE(m_fixture->settings->current().preserve.value, m_fixture->home.path() + "/new preserve/");
    QVERIFY(QFileInfo::exists(packagesDb()));
    QVERIFY(!quitRequested());
}

void TestSettingsDialog::savedFilesFollowTheirFolder_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("nameTaken");
    QTest::newRow("backup") << "Backup" << false;
    QTest::newRow("preserve") << "Preserve" << false;
    QTest::newRow("backup, name taken in the new folder") << "Backup" << true;
}

void TestSettingsDialog::savedFilesFollowTheirFolder()
{
    QFETCH(QString, label);
    QFETCH(bool, nameTaken);
    m_fixture->addPackage(1, "One", { "1.0" });
    m_fixture->publish();
    const QString oldFolder = m_fixture->home.path() + "/" + label.toLower();
    const QString newFolder = m_fixture->home.path() + "/new " + label.toLower();
    const QString saved = "Resources/default data/earth.dat";
    QVERIFY(KOVTest::writeFile(oldFolder + "/" + saved, "X-Plane's own earth"));
    QVERIFY(KOVTest::writeFile(oldFolder + "/Resources/other.dat", "another original"));
    if (nameTaken)
        QVERIFY(KOVTest::writeFile(newFolder + "/Resources", "in the way"));

    SettingsDialog dialog(m_fixture->controller, m_fixture->settings);
    dialog.show();
    ModalAnswerer answerer;
    if (nameTaken)
        answerer.enqueue(ModalAnswerer::button(QMessageBox::Ok));
    emit selector(dialog, label)->valueChanged(newFolder);
    button(dialog, "Ok")->click();
    QCOMPARE(answerer.seen().size(), nameTaken ? 1 : 0);
    const QString current = label == "Backup" ? m_fixture->settings->current().backup.value
                                              : m_fixture->settings->current().preserve.value;
    // The originals are in exactly one place, and the setting names it.
    const QString holder = nameTaken ? oldFolder : newFolder;
    QCOMPARE(current, holder + "/");
    QCOMPARE(KOVTest::readFile(holder + "/" + saved), QByteArray("X-Plane's own earth"));
    QCOMPARE(KOVTest::readFile(holder + "/Resources/other.dat"), QByteArray("another original"));
    if (!nameTaken)
        QVERIFY(QDir(oldFolder).isEmpty());
    QCOMPARE(dialog.isVisible(), nameTaken);
    // The installer saves into the folder the setting names from now on.
    QCOMPARE(label == "Backup" ? m_fixture->controller->fileContext(m_fixture->package(1)).backupFolder
                               : m_fixture->controller->fileContext(m_fixture->package(1)).preserveFolder,
             current);
}

void TestSettingsDialog::folderAndLanguageConfirmed()
{
    SettingsDialog dialog(m_fixture->controller, m_fixture->settings);
    emit selector(dialog, "X-Plane")->valueChanged(otherXPlane());
    dialog.findChild<QComboBox *>()->setCurrentIndex(1);
    ModalAnswerer answerer;
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Yes));
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Yes));
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Ok));
    button(dialog, "Ok")->click();
    QCOMPARE(answerer.seen(),
             QStringList({ "|X-Plane path has been changed\n\nProceeding will reset cache & databases. Continue ?",
                           "|Language has been changed\n\nApplication restart neeeded. Continue ?",
                           "|Application will now close. Restart the application for new setting to take effect." }));
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!QFileInfo::exists(packagesDb()));
    QVERIFY(!QFileInfo::exists(m_fixture->home.dataPath() + "/download.db"));
    QCOMPARE(m_fixture->settings->current().installation.value, otherXPlane() + "/");
    QCOMPARE(m_fixture->settings->current().language.value, QStringLiteral("de"));
    QVERIFY(quitRequested());
}

void TestSettingsDialog::languageKeepsWhatIsKnownOfFiles()
{
    // An installed package with its files on record.
    m_fixture->addPackage(1, "One", { "1.0" });
    m_fixture->publish();
    const auto package = m_fixture->package(1);
    m_fixture->markInstalled(1, "1.0");
    QVERIFY(m_fixture->controller->manifest(package).isEmpty());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("manifest"));
        db.setDatabaseName(packagesDb());
        QVERIFY(db.open());
        QSqlQuery insert(db);
        QVERIFY(insert.exec("INSERT INTO manifest(package_id, path, size, crc) VALUES (1, 'Resources/plugins/P1/file.txt', 4, 0)"));
        insert.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("manifest"));
    SettingsDialog dialog(m_fixture->controller, m_fixture->settings);
    dialog.findChild<QComboBox *>()->setCurrentIndex(1);
    ModalAnswerer answerer;
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Yes));
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Ok));
    button(dialog, "Ok")->click();
    QVERIFY(answerer.seen().value(0).contains("The record of installed packages is rebuilt from their version files"));
    QVERIFY(quitRequested());
    // The rows of installed packages go; the files' record and download.db stay.
    QVERIFY(QFileInfo::exists(m_fixture->home.dataPath() + "/download.db"));
    QCOMPARE(m_fixture->controller->databaseStatus(package), -1);
    QCOMPARE(m_fixture->controller->manifest(package).size(), 1);
}

void TestSettingsDialog::folderConfirmedLanguageRefused()
{
    SettingsDialog dialog(m_fixture->controller, m_fixture->settings);
    dialog.show();
    emit selector(dialog, "X-Plane")->valueChanged(otherXPlane());
    dialog.findChild<QComboBox *>()->setCurrentIndex(1);
    ModalAnswerer answerer;
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Yes));
    answerer.enqueue(ModalAnswerer::button(QMessageBox::No));
    button(dialog, "Ok")->click();
    QCOMPARE(answerer.seen().size(), 2);
    QVERIFY(dialog.isVisible());
    // Nothing quits, so nothing is deleted.
    QVERIFY(QFileInfo::exists(packagesDb()));
    QCOMPARE(m_fixture->settings->current().installation.value, m_fixture->xp());
    QCOMPARE(m_fixture->settings->current().language.value, QStringLiteral("en"));
    QVERIFY(!quitRequested());
}

void TestSettingsDialog::invalidXPlaneFolder()
{
    SettingsDialog dialog(m_fixture->controller, m_fixture->settings);
    ModalAnswerer answerer;
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Ok));
    emit selector(dialog, "X-Plane")->valueChanged(m_fixture->home.path());
    QCOMPARE(answerer.seen(), QStringList { "Invalid Folder|Oops...this doesn't seem to be a XPlane installation folder." });
    QCOMPARE(m_fixture->settings->edited().installation.value, m_fixture->xp());
    button(dialog, "Ok")->click();
    QCOMPARE(answerer.seen().size(), 1);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void TestSettingsDialog::browsePicksFolder()
{
    SettingsDialog dialog(m_fixture->controller, m_fixture->settings);
    dialog.show();
    const QString folder = m_fixture->home.path() + "/picked";
    QDir().mkpath(folder);
    ModalAnswerer answerer;
    answerer.enqueue(ModalAnswerer::chooseFolder(folder));
    FileSelector *backup = selector(dialog, "Backup");
    for (QPushButton *browse : backup->findChildren<QPushButton *>())
        browse->click();
    QCOMPARE(backup->value(), folder);
    QCOMPARE(m_fixture->settings->edited().backup.value, folder + "/");
    // A cancelled chooser changes nothing.
    answerer.enqueue(ModalAnswerer::cancelDialog());
    for (QPushButton *browse : backup->findChildren<QPushButton *>())
        browse->click();
    QCOMPARE(backup->value(), folder);
}

namespace {

// WCAG's relative luminance and contrast ratio of two colours.
double luminance(const QColor &colour)
{
    const auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) + 0.0722 * channel(colour.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

} // namespace

void TestSettingsDialog::folderChooserReadable()
{
    // The program's dark style sheet, as the window applies it.
    QFile style(":/resources/style.qss");
    QVERIFY(style.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(style.readAll()));
    SettingsDialog dialog(m_fixture->controller, m_fixture->settings);
    dialog.show();
    QStringList unreadable;
    bool seen = false;
    QString chooserFolder;
    const QString backupValue = QDir::fromNativeSeparators(selector(dialog, "Backup")->value());
    ModalAnswerer answerer;
    answerer.enqueue([&](QWidget *widget) {
        auto *chooser = qobject_cast<QFileDialog *>(widget);
        if (chooser) {
            seen = true;
            // The backup folder is not made yet: its nearest existing parent is where the chooser opens.
            chooserFolder = chooser->directory().absolutePath();
            const QString grab = qEnvironmentVariable("KOV_CHOOSER_SCREENSHOT");
            if (!grab.isEmpty())
                chooser->grab().save(grab);
            const QColor window = chooser->palette().color(QPalette::Window);
            for (QWidget *child : chooser->findChildren<QWidget *>()) {
                if (!child->isVisible() || !child->isEnabled() || !(qobject_cast<QLabel *>(child) || qobject_cast<QAbstractButton *>(child)
                                             || qobject_cast<QLineEdit *>(child)))
                    continue;
                const bool field = qobject_cast<QLineEdit *>(child) != nullptr;
                const QColor text = child->palette().color(field ? QPalette::Text : child->foregroundRole());
                const QColor back = field ? child->palette().color(QPalette::Base) : window;
                if (contrast(text, back) < 4.5)
                    unreadable << QStringLiteral("%1 '%2': %3 on %4")
                                      .arg(child->metaObject()->className(), child->objectName(), text.name(),
                                           back.name());
            }
        }
        widget->close();
    });
    for (QPushButton *browse : selector(dialog, "Backup")->findChildren<QPushButton *>())
        browse->click();
    qApp->setStyleSheet(QString());
    QVERIFY(seen);
    QVERIFY2(backupValue.startsWith(chooserFolder + '/') && !chooserFolder.isEmpty(),
             qPrintable(chooserFolder + " for " + backupValue));
    QVERIFY2(unreadable.isEmpty(), qPrintable(unreadable.join('\n')));
}

void TestSettingsDialog::typedFolder_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("cache pasted") << "Cache" << "/new cache" << true;
    QTest::newRow("cache with its separator and spaces") << "Cache" << "  /new cache/ " << true;
    QTest::newRow("cache emptied") << "Cache" << "" << false;
    QTest::newRow("another X-Plane") << "X-Plane" << "/Other X-Plane" << true;
    QTest::newRow("not an X-Plane") << "X-Plane" << "/backup" << false;
}

void TestSettingsDialog::typedFolder()
{
    QFETCH(QString, label);
    QFETCH(QString, typed);
    QFETCH(bool, accepted);
    SettingsDialog dialog(m_fixture->controller, m_fixture->settings);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    FileSelector *field = selector(dialog, label);
    const QString before = field->value();
    QLineEdit *edit = field->findChild<QLineEdit *>();
    QVERIFY(edit->isEnabled());
    // The table's paths are inside the test's home: its path goes before the first slash.
    const int slash = typed.indexOf('/');
    const QString text = slash < 0 ? typed : typed.left(slash) + m_fixture->home.path() + typed.mid(slash);
    const QString wanted = text.trimmed();
    edit->setFocus();
    edit->selectAll();
    ModalAnswerer answerer;
    if (!accepted && !wanted.isEmpty())
        answerer.enqueue(ModalAnswerer::button(QMessageBox::Ok));
    // Pasted as a whole, then on to the next field.
    edit->insert(text);
    QTest::keyClick(edit, Qt::Key_Tab);
    const KOV::Settings::Entry &entry
        = label == "Cache" ? m_fixture->settings->edited().cache : m_fixture->settings->edited().installation;
    if (accepted) {
        QCOMPARE(field->value(), wanted);
        QCOMPARE(entry.value, wanted.endsWith('/') ? wanted : wanted + '/');
        QCOMPARE(answerer.seen(), QStringList());
    } else {
        QCOMPARE(field->value(), before);
        QCOMPARE(edit->text(), before);
        QCOMPARE(answerer.seen().size(), wanted.isEmpty() ? 0 : 1);
    }
    // Leaving the field again changes nothing more.
    edit->clearFocus();
    QCOMPARE(answerer.seen().size(), !accepted && !wanted.isEmpty() ? 1 : 0);
}

void TestSettingsDialog::dismissingReverts_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("Cancel") << 0;
    QTest::newRow("Escape") << 1;
    QTest::newRow("close button") << 2;
}

void TestSettingsDialog::dismissingReverts()
{
    QFETCH(int, how);
    SettingsDialog dialog(m_fixture->controller, m_fixture->settings);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    emit selector(dialog, "X-Plane")->valueChanged(otherXPlane());
    emit selector(dialog, "Cache")->valueChanged(m_fixture->home.path() + "/elsewhere");
    dialog.findChild<QComboBox *>()->setCurrentIndex(1);
    QCOMPARE(m_fixture->settings->edited().language.value, QStringLiteral("de"));
    if (how == 0)
        button(dialog, "Cancel")->click();
    else if (how == 1)
        QTest::keyClick(&dialog, Qt::Key_Escape);
    else
        dialog.close();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    const auto &edited = m_fixture->settings->edited();
    QCOMPARE(edited.installation.value, m_fixture->xp());
    QCOMPARE(edited.cache.value, m_fixture->home.path() + "/cache/");
    QCOMPARE(edited.language.value, QStringLiteral("en"));
    QVERIFY(QFileInfo::exists(packagesDb()));
}

void TestSettingsDialog::unknownLanguage()
{
    m_fixture->settings->edited().language.value = "fr";
    m_fixture->settings->commit();
    SettingsDialog dialog(m_fixture->controller, m_fixture->settings);
    QCOMPARE(dialog.findChild<QComboBox *>()->currentText(), QStringLiteral("English"));
    QCOMPARE(m_fixture->settings->edited().language.value, QStringLiteral("fr"));
    ModalAnswerer answerer;
    button(dialog, "Ok")->click();
    QVERIFY(answerer.seen().isEmpty());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void TestSettingsDialog::refusedWhileInstalling()
{
    QByteArray big(40 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator(8).fillRange(reinterpret_cast<quint32 *>(big.data()), big.size() / 4);
    KOVTest::writeFile(m_fixture->home.path() + "/src/slow/big.bin", big);
    m_fixture->addPackage(9, "Slow", { "1.0" });
    KOVTest::make7z(m_fixture->home.path() + "/served/p9-1.0.7z", m_fixture->home.path() + "/src/slow", { "-mx=1" });
    m_fixture->publish();
    SettingsDialog dialog(m_fixture->controller, m_fixture->settings);
    dialog.show();
    emit selector(dialog, "X-Plane")->valueChanged(otherXPlane());
    QString version;
    m_fixture->controller->installPackage(m_fixture->package(9), version);
    QTRY_VERIFY_WITH_TIMEOUT(m_fixture->controller->isInstalling(), 20000);

    ModalAnswerer answerer;
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Ok));
    button(dialog, "Ok")->click();
    QCOMPARE(answerer.seen().value(0).section('|', 0, 0), QStringLiteral("Installation in progress"));
    QVERIFY(dialog.isVisible());
    QVERIFY(QFileInfo::exists(packagesDb()));
    QCOMPARE(m_fixture->settings->current().installation.value, m_fixture->xp());
    QTRY_VERIFY_WITH_TIMEOUT(!m_fixture->controller->isInstalling(), 30000);
    QVERIFY(!quitRequested());
}

void TestSettingsDialog::formatSize_data()
{
    QTest::addColumn<qlonglong>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing") << 0LL << "0 bytes";
    QTest::newRow("a few bytes") << 239LL << "239 bytes";
    QTest::newRow("just below a KiB") << 1023LL << "1,023 bytes";
    QTest::newRow("a KiB") << 1024LL << "1.00 KiB";
    QTest::newRow("a KiB and a half") << 1536LL << "1.50 KiB";
    QTest::newRow("one byte short of a MiB") << 1048575LL << "1,024.00 KiB";
    QTest::newRow("five GiB") << 5368709120LL << "5.00 GiB";
    QTest::newRow("an EiB") << (1LL << 60) << "1.00 EiB";
}

void TestSettingsDialog::formatSize()
{
    QFETCH(qlonglong, bytes);
    QFETCH(QString, text);
    QCOMPARE(DiskSettingsWidget::formatSize(bytes), text);
}

void TestSettingsDialog::folderSize()
{
    const QString root = m_fixture->home.path() + "/usage";
    QCOMPARE(DiskSettingsWidget::folderSize(root), 0LL);
    QDir().mkpath(root);
    QCOMPARE(DiskSettingsWidget::folderSize(root), 0LL);
    KOVTest::writeFile(root + "/a.bin", QByteArray(1000, 'a'));
    KOVTest::writeFile(root + "/.hidden", QByteArray(20, 'h'));
    KOVTest::writeFile(root + "/.hidden folder/deep/b.bin", QByteArray(4, 'b'));
    QCOMPARE(DiskSettingsWidget::folderSize(root), 1024LL);
    // A link back up into the folder itself.
    QVERIFY(QFile::link(root, root + "/.hidden folder/deep/loop"));
    QVERIFY(QFile::link("..", root + "/up"));
    QCOMPARE(DiskSettingsWidget::folderSize(root), 1024LL);
    QCOMPARE(DiskSettingsWidget::formatSize(DiskSettingsWidget::folderSize(root)), QStringLiteral("1.00 KiB"));

    SettingsDialog dialog(m_fixture->controller, m_fixture->settings);
    QStringList texts;
    for (QLabel *label : dialog.findChild<DiskSettingsWidget *>()->findChildren<QLabel *>())
        texts << label->text();
    QCOMPARE(texts, QStringList({ "Cache", "0 bytes", "Backup", "0 bytes", "Preserve", "0 bytes" }));
}

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
