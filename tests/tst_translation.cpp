#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QXmlStreamReader>

#include "app/environment.h"
#include "common/qtawesome.h"
#include "controllers/applicationcontroller.h"
#include "controllers/topbarcontroller.h"
#include "dialogs/settingsdialog.h"
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
    void untranslatedSentencesStayOut();
    void widgetsSpeakGerman();
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

void TestTranslation::untranslatedSentencesStayOut()
{
    const QString ts = QString::fromUtf8(KOVTest::readFile(QStringLiteral(KOV_SOURCE_DIR "/translations/qt_de.ts")));
    for (const char *sentence : { "Following dependent extensions will also be uninstalled",
                                  "Install older version?", "Install ?", "Not available", "Bytes" })
        QVERIFY2(!ts.contains(QString::fromLatin1(sentence)), sentence);
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

    QCOMPARE(QCoreApplication::translate("QSplashScreen", "Loading fonts..."),
             QStringLiteral("Schriftarten werden geladen …"));
    QCOMPARE(QCoreApplication::translate("QMessageBox", "Invalid Folder"), QStringLiteral("Ungültiger Ordner"));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Select the XPlane folder"),
             QStringLiteral("X-Plane-Ordner auswählen"));
}

QTEST_MAIN(TestTranslation)
#include "tst_translation.moc"
