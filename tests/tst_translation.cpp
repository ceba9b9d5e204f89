#include <QDirIterator>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTabBar>
#include <QTimer>
#include <QPointer>
#include <QAbstractScrollArea>
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QXmlStreamReader>

#include "app/environment.h"
#include "common/externallink.h"
#include "common/qtawesome.h"
#include "components/fileselector.h"
#include "controllers/applicationcontroller.h"
#include "controllers/topbarcontroller.h"
#include "dialogs/disksettingswidget.h"
#include "dialogs/settingsdialog.h"
#include "ui/applicationwindow.h"
#include "ui/installconfirmation.h"
#include "ui/packagesidebar.h"
#include "ui/packagewidget.h"
#include "ui/topbar.h"
#include "uifixture.h"

namespace {

struct Message
{
    QString context;
    QString source;
    QString translation;
    bool finished;
};

QVector<Message> readTs(const QString &path)
{
    QVector<Message> messages;
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    QXmlStreamReader xml(&file);
    QString context;
    Message current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("source")) {
            current = { context, xml.readElementText(), QString(), true };
        } else if (xml.name() == QLatin1String("translation")) {
            current.finished = xml.attributes().value(QLatin1String("type")).isEmpty();
            current.translation = xml.readElementText();
            messages << current;
        }
    }
    return messages;
}

QStringList texts(QWidget &widget)
{
    QStringList result;
    for (QLabel *label : widget.findChildren<QLabel *>())
        result << label->text();
    for (QPushButton *button : widget.findChildren<QPushButton *>())
        result << button->text();
    for (QTabWidget *tabs : widget.findChildren<QTabWidget *>()) {
        for (int i = 0; i < tabs->count(); ++i)
            result << tabs->tabText(i);
    }
    return result;
}

} // namespace

class TestTranslation final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void everyTextIsTranslated();
    void userTextsGoThroughTr();
    void widgetsSpeakGerman();
    void boxesSpeakGerman_data();
    void boxesSpeakGerman();
    void germanTextsFit_data();
    void germanTextsFit();
};

void TestTranslation::initTestCase()
{
    KOV::sharedIcons()->initFontAwesome();
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    KOV::setupLanguage(QStringLiteral("de"));
}

void TestTranslation::everyTextIsTranslated()
{
    const QVector<Message> messages = readTs(QStringLiteral(KOV_SOURCE_DIR "/translations/qt_de.ts"));
    QVERIFY(messages.size() > 80);
    QSet<QString> contexts;
    for (const Message &message : messages) {
        contexts.insert(message.context);
        QVERIFY2(message.finished && !message.translation.isEmpty(),
                 qPrintable(message.context + ": " + message.source));
        // The compiled file gives the same text back.
        QCOMPARE(QCoreApplication::translate(message.context.toUtf8().constData(),
                                             message.source.toUtf8().constData()),
                 message.translation);
    }
    for (const char *context : { "QSplashScreen", "QMessageBox", "QFileDialog", "QObject", "KOV::Ui::TopBar",
                                 "KOV::Dialogs::SettingsDialog", "KOV::Ui::PackageWidget" })
        QVERIFY2(contexts.contains(QString::fromLatin1(context)), context);
}

void TestTranslation::userTextsGoThroughTr()
{
    // A literal of words in a widget's code is a text nobody translates.
    const QRegularExpression literal(QStringLiteral("QStringLiteral\\(\\s*\"((?:[^\"\\\\]|\\\\.)*)\"\\s*\\)"));
    const QRegularExpression words(QStringLiteral("[A-Za-z]{2,}[ ]+[A-Za-z?]"));
    QStringList found;
    for (const char *folder : { "ui", "dialogs", "components", "common" }) {
        QDirIterator files(QStringLiteral(KOV_SOURCE_DIR "/src/") + QLatin1String(folder), { "*.cpp", "*.h" });
        while (files.hasNext()) {
            const QString path = files.next();
            const QString code = QString::fromUtf8(KOVTest::readFile(path));
            for (auto match = literal.globalMatch(code); match.hasNext();) {
                const QString text = match.next().captured(1);
                if (words.match(text).hasMatch() && !text.contains(QLatin1Char('<')))
                    found << QFileInfo(path).fileName() + ": " + text;
            }
        }
    }
    QVERIFY2(found.isEmpty(), qPrintable(found.join('\n')));
}

void TestTranslation::widgetsSpeakGerman()
{
    KOVTest::UiFixture fixture(QStringLiteral("true"), QStringLiteral("true"));
    fixture.addPackage(5, "Five", { "1.0" });
    fixture.publish();

    auto application = QSharedPointer<KOV::Controllers::ApplicationController>::create();
    auto topbarController = QSharedPointer<KOV::Controllers::TopbarController>::create(
        fixture.settings, fixture.controller, application);
    KOV::Ui::TopBar bar(topbarController);
    QVERIFY(texts(bar).contains(QStringLiteral("X-Plane starten")));
    QVERIFY(texts(bar).contains(QStringLiteral("[Lokales Verzeichnis]")));

    KOV::Ui::PackageWidget tile(fixture.controller, fixture.package(5));
    QVERIFY(texts(tile).contains(QStringLiteral("Details")));
    QVERIFY(texts(tile).contains(QStringLiteral("Herunterladen")));
    fixture.package(5)->setState(KOV::Models::Package::DOWNLOAD_ERROR); // hidden: no box
    QVERIFY(texts(tile).contains(QStringLiteral("Erneut versuchen")));
    fixture.package(5)->setState(KOV::Models::Package::DOWNLOADING);
    QVERIFY(texts(tile).contains(QStringLiteral("Abbrechen")));

    KOV::Ui::PackageSidebar sidebar(fixture.controller);
    const QList<QComboBox *> combos = sidebar.findChildren<QComboBox *>();
    QCOMPARE(combos.value(0)->itemText(0), QStringLiteral("Alle"));
    QCOMPARE(combos.value(1)->itemText(2), QString::fromUtf8("Updates verfügbar"));
    QVERIFY(texts(sidebar).contains(QStringLiteral("Anzeigen")));

    KOV::Dialogs::SettingsDialog dialog(fixture.controller, fixture.settings);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Einstellungen"));
    const QStringList dialogTexts = texts(dialog);
    for (const char *german : { "Allgemein", "Pfade", "Speicherplatz", "Abbrechen", "Durchsuchen" })
        QVERIFY2(dialogTexts.contains(QString::fromUtf8(german)), german);
    QCOMPARE(dialog.findChild<QCheckBox *>()->text(), QStringLiteral("Suche und Filter anzeigen"));
    QCOMPARE(QCoreApplication::translate("KOV::Ui::TopBar", "Update all (%1)"),
             QStringLiteral("Alle aktualisieren (%1)"));
    QCOMPARE(QCoreApplication::translate("KOV::Ui::ApplicationWindow", "Downloads are still running. Quit anyway?"),
             QStringLiteral("Es laufen noch Downloads. Trotzdem beenden?"));

    // Sizes as German writes them.
    QCOMPARE(KOV::Dialogs::DiskSettingsWidget::formatSize(0), QStringLiteral("0 Bytes"));
    QCOMPARE(KOV::Dialogs::DiskSettingsWidget::formatSize(1536), QStringLiteral("1,50 KiB"));
    const QRegularExpression noRoom(QString::fromUtf8(
        "^Nicht genügend Speicherplatz in .+: 1,50 MiB benötigt, [0-9,]+ [KMGT]?i?B(ytes)? frei\\.$"));
    const QString lack = KOV::lackOfRoom(fixture.home.path(), qint64(1) << 62);
    QVERIFY2(lack.contains(QString::fromUtf8("benötigt")), qPrintable(lack));
    QVERIFY2(noRoom.match(KOV::notEnoughSpaceText(fixture.home.path(), 1536 * 1024)).hasMatch(),
             qPrintable(KOV::notEnoughSpaceText(fixture.home.path(), 1536 * 1024)));

    QCOMPARE(QCoreApplication::translate("QSplashScreen", "Loading fonts..."),
             QStringLiteral("Schriftarten werden geladen …"));
    QCOMPARE(QCoreApplication::translate("QMessageBox", "Invalid Folder"), QStringLiteral("Ungültiger Ordner"));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Select the XPlane folder"),
             QStringLiteral("X-Plane-Ordner auswählen"));
}

namespace {

// The button texts of a modal widget, and whether any of them is one of Qt's English ones.
QString englishButton(QWidget *widget)
{
    static const QStringList english { "Yes", "No", "Cancel", "Close", "Apply", "Open", "Save", "Discard",
                                       "Abort", "Retry", "Ignore", "Help", "Reset", "Choose", "Show Details...",
                                       "Hide Details...", "Yes to All", "No to All", "Back", "Forward",
                                       "Detail View", "List View", "New Folder", "Parent Directory", "Look in:",
                                       "Directory:", "Files of type:" };
    for (QAbstractButton *button : widget->findChildren<QAbstractButton *>()) {
        const QString text = button->text().remove(QLatin1Char('&'));
        if (english.contains(text))
            return text;
    }
    for (QLabel *label : widget->findChildren<QLabel *>()) {
        const QString text = label->text().remove(QLatin1Char('&'));
        if (english.contains(text))
            return text;
    }
    return QString();
}

} // namespace

void TestTranslation::boxesSpeakGerman_data()
{
    QTest::addColumn<QString>("box");
    for (const char *box : { "install error", "download error", "dependency error", "change log", "dependencies",
                             "dependencies missing", "update all", "uninstall", "verify", "link", "conflict",
                             "uninstall failed", "records rebuilt", "records busy", "installing at close", "downloads at close",
                             "reset", "settings", "folder question", "language question", "invalid folder",
                             "folder dialog" })
        QTest::newRow(box) << box;
}

void TestTranslation::boxesSpeakGerman()
{
    QFETCH(QString, box);
    KOVTest::UiFixture fixture;
    fixture.addPackage(1, "Eins", { "2.0", "1.0" });
    fixture.addPackage(5, "Fünf", { "1.2", "1.0" }, { "1:2.0" });
    fixture.publish();
    fixture.markInstalled(1, "1.0");
    fixture.markInstalled(5, "1.0");
    fixture.package(5)->setHasUpdate(true);
    const auto five = fixture.package(5);
    auto application = QSharedPointer<KOV::Controllers::ApplicationController>::create();
    auto topbarController = QSharedPointer<KOV::Controllers::TopbarController>::create(fixture.settings,
                                                                                      fixture.controller, application);
    KOV::Ui::ApplicationWindow window(application, fixture.controller, topbarController);
    window.show();
    QWidget *parent = &window;

    // Every modal widget that opens is read, then closed.
    QStringList seen;
    QString english;
    QTimer poll;
    QPointer<QWidget> last;
    connect(&poll, &QTimer::timeout, this, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == last)
            return;
        last = modal;
        seen << QString::fromLatin1(modal->metaObject()->className());
        if (english.isEmpty())
            english = englishButton(modal);
        QTimer::singleShot(0, modal, [modal] {
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                dialog->reject();
            else
                modal->close();
        });
    });
    poll.start(20);

    if (box == "install error" || box == "download error" || box == "dependency error") {
        KOV::Ui::PackageWidget tile(fixture.controller, five);
        tile.show();
        five->setFailureReason("Version 1.2: Kaputt.");
        five->setState(box == "install error" ? KOV::Models::Package::INSTALL_ERROR
                       : box == "download error" ? KOV::Models::Package::DOWNLOAD_ERROR
                                                 : KOV::Models::Package::DEPENDENCY_ERROR);
        QTRY_VERIFY(!seen.isEmpty());
    } else if (box == "change log") {
        KOV::Ui::InstallConfirmation::confirmUpdate(*fixture.controller, five, "1.2", parent);
    } else if (box == "dependencies") {
        fixture.package(1)->setState(KOV::Models::Package::AVAILABLE);
        KOV::Ui::InstallConfirmation::confirmDependencies(*fixture.controller, five, "1.2", parent);
    } else if (box == "dependencies missing") {
        auto lonely = fixture.package(1);
        lonely->versions().first()->depends = QStringList { "99" };
        KOV::Ui::InstallConfirmation::confirmDependencies(*fixture.controller, lonely, "2.0", parent);
    } else if (box == "update all") {
        KOV::Ui::InstallConfirmation::runUpdateAll(*fixture.controller, parent);
    } else if (box == "uninstall" || box == "verify") {
        fixture.controller->showDetail(five);
        for (QPushButton *button : window.findChildren<QPushButton *>()) {
            if (button->isVisible() && button->text() == (box == "uninstall" ? "Deinstallieren" : QString::fromUtf8("Prüfen")))
                button->click();
        }
    } else if (box == "link") {
        KOV::openExternalLink(QUrl("file:///etc/passwd"), parent);
    } else if (box == "conflict") {
        emit fixture.controller->conflictsFound(five, "Eins", { "a.txt" });
    } else if (box == "uninstall failed") {
        emit fixture.controller->uninstallFailed(five, { "a.txt" });
    } else if (box == "records rebuilt") {
        emit fixture.controller->databaseRebuilt("/tmp/packages.db.broken");
    } else if (box == "records busy") {
        emit fixture.controller->databaseUnavailable(true, "/tmp/packages.db", "database is locked");
    } else if (box == "installing at close" || box == "downloads at close") {
        KOVTest::HttpServer::Behaviour slow;
        slow.trickleBytes = 1;
        slow.trickleIntervalMs = 100;
        fixture.server.setBehaviour("/p1-2.0.7z", slow);
        QString newest;
        fixture.controller->installPackage(fixture.package(1), newest);
        QTRY_VERIFY(fixture.downloads->hasRunningDownloads());
        window.close();
    } else if (box == "reset") {
        for (QAbstractButton *button : window.findChildren<QAbstractButton *>()) {
            if (button->objectName() == QLatin1String("TopButton") && button->toolTip() == QStringLiteral("Zurücksetzen"))
                button->click();
        }
    } else if (box == "settings" || box == "folder question" || box == "language question" || box == "invalid folder"
               || box == "folder dialog") {
        KOV::Dialogs::SettingsDialog dialog(fixture.controller, fixture.settings, parent);
        if (box == "settings") {
            dialog.show();
            seen << QStringLiteral("SettingsDialog");
            english = englishButton(&dialog);
        } else if (box == "folder dialog") {
            dialog.findChildren<QPushButton *>().first()->click();
        } else if (box == "invalid folder") {
            emit dialog.findChild<KOV::Components::FileSelector *>()->valueChanged(fixture.home.path());
        } else {
            if (box == "folder question") {
                QDir().mkpath(fixture.home.path() + "/other");
                KOVTest::writeFile(fixture.home.path() + "/other/X-Plane-x86_64", "#!");
                emit dialog.findChild<KOV::Components::FileSelector *>()->valueChanged(fixture.home.path() + "/other");
            } else {
                QComboBox *languages = dialog.findChild<QComboBox *>();
                languages->setCurrentIndex(languages->currentIndex() == 0 ? 1 : 0);
            }
            for (QPushButton *button : dialog.findChildren<QPushButton *>()) {
                if (button->text() == QLatin1String("OK") || button->text() == QLatin1String("Ok"))
                    button->click();
            }
        }
    }
    QTRY_VERIFY_WITH_TIMEOUT(!seen.isEmpty(), 5000);
    QTest::qWait(100);
    QVERIFY2(english.isEmpty(), qPrintable(box + ": an English button \"" + english + "\" in " + seen.join(',')));
    fixture.downloads->cancel(fixture.downloads->find(fixture.server.url("/p1-2.0.7z")));
}

void TestTranslation::germanTextsFit_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QSize>("size");
    // 1280 x 760: what a 2560 x 1600 screen at QT_SCALE_FACTOR=2 leaves a window.
    for (const QSize size : { QSize(1320, 800), QSize(1280, 760) }) {
        const QByteArray at = QByteArray::number(size.width()) + "x" + QByteArray::number(size.height());
        QTest::newRow(("list, " + at).constData()) << "list" << size;
        QTest::newRow(("detail page, " + at).constData()) << "detail" << size;
        QTest::newRow(("settings dialog, " + at).constData()) << "settings" << size;
    }
}

void TestTranslation::germanTextsFit()
{
    QFETCH(QString, page);
    QFETCH(QSize, size);
    qApp->setStyleSheet(QString::fromUtf8(KOVTest::readFile(":/resources/style.qss")));
    KOVTest::UiFixture fixture(QStringLiteral("true"));
    fixture.addPackage(1, "Bibliothek", { "2.0", "1.0" });
    fixture.addPackage(5, "Bodenverkehr", { "1.2", "1.0" }, { "1:2.0" });
    fixture.publish();
    fixture.markInstalled(5, "1.0");
    auto application = QSharedPointer<KOV::Controllers::ApplicationController>::create();
    auto topbarController = QSharedPointer<KOV::Controllers::TopbarController>::create(fixture.settings,
                                                                                      fixture.controller, application);
    KOV::Ui::ApplicationWindow window(application, fixture.controller, topbarController);
    window.resize(size);
    window.show();
    QTRY_VERIFY(fixture.package(5));
    QScopedPointer<KOV::Dialogs::SettingsDialog> dialog;
    QWidget *root = &window;
    if (page == "detail") {
        fixture.controller->showDetail(fixture.package(5));
    } else if (page == "settings") {
        dialog.reset(new KOV::Dialogs::SettingsDialog(fixture.controller, fixture.settings, &window));
        dialog->show();
        root = dialog.data();
    }
    QTest::qWait(200);
    QStringList cut;
    for (QWidget *widget : root->findChildren<QWidget *>()) {
        if (!widget->isVisible() || widget->width() <= 0)
            continue;
        // Nothing sticks out of what holds it, but what scrolls inside a view.
        bool scrolled = false;
        for (QWidget *up = widget->parentWidget(); up && up != root; up = up->parentWidget())
            scrolled = scrolled || qobject_cast<QAbstractScrollArea *>(up->parentWidget());
        if (!scrolled && widget->parentWidget() && !widget->isWindow()
            && !widget->parentWidget()->rect().contains(widget->geometry().adjusted(1, 1, -1, -1)))
            cut << QStringLiteral("%1 \"%2\" outside its parent").arg(QString::fromLatin1(widget->metaObject()->className()), widget->objectName());
        if (auto *label = qobject_cast<QLabel *>(widget)) {
            // Word-wrapped and elided labels fit by design; a picture has no text.
            if (label->wordWrap() || label->text().isEmpty() || label->text().contains(QChar(0x2026))
                || label->textFormat() == Qt::RichText)
                continue;
            // What the label itself needs for its text, ink and margins, against what it got.
            if (label->fontMetrics().boundingRect(label->text()).width() > label->contentsRect().width() + 1
                || label->sizeHint().width() > label->width() + 1)
                cut << QStringLiteral("label \"%1\" needs %2 of %3").arg(label->text()).arg(label->sizeHint().width()).arg(label->width());
        } else if (auto *button = qobject_cast<QAbstractButton *>(widget)) {
            if (!button->text().isEmpty() && button->sizeHint().width() > button->width() + 1)
                cut << QStringLiteral("button \"%1\" %2 of %3").arg(button->text()).arg(button->sizeHint().width()).arg(button->width());
        } else if (auto *tabs = qobject_cast<QTabBar *>(widget)) {
            for (int i = 0; i < tabs->count(); ++i) {
                if (tabs->fontMetrics().horizontalAdvance(tabs->tabText(i)) > tabs->tabRect(i).width())
                    cut << QStringLiteral("tab \"%1\"").arg(tabs->tabText(i));
            }
        } else if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
            if (!edit->placeholderText().isEmpty() && edit->text().isEmpty()
                && edit->fontMetrics().horizontalAdvance(edit->placeholderText()) > edit->width() - 16)
                cut << QStringLiteral("placeholder \"%1\"").arg(edit->placeholderText());
        }
    }
    qApp->setStyleSheet(QString());
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join('\n')));
}

QTEST_MAIN(TestTranslation)
#include "tst_translation.moc"
