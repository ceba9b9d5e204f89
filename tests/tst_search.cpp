#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtTest>

#include "common/qtawesome.h"
#include "controllers/applicationcontroller.h"
#include "controllers/packagefilter.h"
#include "controllers/topbarcontroller.h"
#include "dialogs/disksettingswidget.h"
#include "dialogs/settingsdialog.h"
#include "ui/packagecontainer.h"
#include "ui/packagesidebar.h"
#include "ui/packagewidget.h"
#include "ui/tilelist.h"
#include "ui/topbar.h"
#include "uifixture.h"

using KOV::Controllers::PackageFilter;
using KOV::Models::Package;
using KOV::Ui::PackageWidget;
using KOV::Ui::TileList;
using KOVTest::ModalAnswerer;

namespace {

void setField(QJsonArray &catalogue, int index, const QString &key, const QJsonValue &value)
{
    QJsonObject package = catalogue.at(index).toObject();
    package[key] = value;
    catalogue[index] = package;
}

} // namespace

/**
 * What a user with many add-ons does in the list: types to find one, narrows it with the sidebar, updates
 * everything at once, tries a failure again and stops a download.
 */
class TestSearch final : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { KOV::sharedIcons()->initFontAwesome(); }
    void init();
    void cleanup();
    void fold_data();
    void fold();
    void narrowing_data();
    void narrowing();
    void escapeAndFindShortcut();
    void filterSurvivesInTiles();
    void updateAll();
    void retryAfterDownloadError();
    void retryAfterInstallError();
    void cancelDuringDownload();
    void showFilterSettingFollowsAtNextList();

private:
    void buildWindow();
    QList<int> visibleIds() const;
    PackageWidget *tile(int id) const;
    QPushButton *actionButton(int id) const;

    QScopedPointer<KOVTest::UiFixture> m_fixture;
    QSharedPointer<KOV::Controllers::ApplicationController> m_application;
    QSharedPointer<KOV::Controllers::TopbarController> m_topbarController;
    QScopedPointer<QWidget> m_window;
    KOV::Ui::TopBar *m_bar = nullptr;
    KOV::Ui::PackageContainer *m_page = nullptr;
};

void TestSearch::init()
{
    m_fixture.reset(new KOVTest::UiFixture(QStringLiteral("true")));
    KOVTest::UiFixture &fixture = *m_fixture;
    fixture.addPackage(1, "Library", { "1.0" });
    fixture.addPackage(2, "Zürich Airport", { "1.0" });
    fixture.addPackage(3, "Jetways", { "2.0", "1.0" }, { "1" });
    fixture.addPackage(4, "Weather", { "1.0" });
    setField(fixture.catalogue, 0, "type", "LIBRARY");
    setField(fixture.catalogue, 1, "short_description", QJsonObject { { "en", "Swiss scenery" } });
    for (int index : { 1, 2, 3 })
        setField(fixture.catalogue, index, "type", "PLUGIN");
    setField(fixture.catalogue, 1, "paid", true);
    setField(fixture.catalogue, 3, "paid", true);
    fixture.publish();
    fixture.markInstalled(1, "1.0");
    fixture.markInstalled(3, "1.0");
    fixture.markInstalled(4, "1.0");
}

void TestSearch::cleanup()
{
    m_window.reset();
    m_topbarController.reset();
    m_application.reset();
    m_fixture.reset();
}

void TestSearch::buildWindow()
{
    m_application = QSharedPointer<KOV::Controllers::ApplicationController>::create();
    m_topbarController = QSharedPointer<KOV::Controllers::TopbarController>::create(
        m_fixture->settings, m_fixture->controller, m_application);
    m_window.reset(new QWidget);
    auto *layout = new QVBoxLayout(m_window.data());
    m_bar = new KOV::Ui::TopBar(m_topbarController, m_window.data());
    m_page = new KOV::Ui::PackageContainer(m_fixture->controller, m_window.data());
    layout->addWidget(m_bar);
    layout->addWidget(m_page);
    m_window->show();
    QTRY_COMPARE_WITH_TIMEOUT(m_page->findChild<TileList *>()->count(), m_fixture->catalogue.size(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(m_page->findChild<TileList *>()->isVisible(), 5000);
}

QList<int> TestSearch::visibleIds() const
{
    QList<int> ids;
    auto *list = m_page->findChild<TileList *>();
    for (int row = 0; row < list->count(); ++row) {
        if (!list->isRowHidden(row))
            ids << m_fixture->controller->packages().at(row)->id();
    }
    return ids;
}

PackageWidget *TestSearch::tile(int id) const
{
    auto *list = m_page->findChild<TileList *>();
    for (int row = 0; row < list->count(); ++row) {
        auto *widget = qobject_cast<PackageWidget *>(list->tile(row));
        if (m_fixture->controller->packages().at(row)->id() == id)
            return widget;
    }
    return nullptr;
}

QPushButton *TestSearch::actionButton(int id) const
{
    // The first button of a tile is its action button.
    return tile(id)->findChildren<QPushButton *>().value(0);
}

void TestSearch::fold_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("folded");
    QTest::newRow("diaeresis") << "Zürich"
                               << "zurich";
    QTest::newRow("capitals with accents") << "ÉCOLE Ñandú"
                                           << "ecole nandu";
    QTest::newRow("ligature and width") << "ﬁle Ｘ"
                                        << "file x";
    QTest::newRow("sharp s folds") << "Straße"
                                   << "strasse";
    QTest::newRow("plain") << "Jetways 2"
                           << "jetways 2";
}

void TestSearch::fold()
{
    QFETCH(QString, text);
    QFETCH(QString, folded);
    QCOMPARE(PackageFilter::fold(text), folded);
}

void TestSearch::narrowing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("category"); // 0 All, 1 Plugin, 2 Library
    QTest::addColumn<bool>("free");
    QTest::addColumn<bool>("paid");
    QTest::addColumn<int>("show"); // 0 All, 1 Installed, 2 Updates available
    QTest::addColumn<QList<int>>("visible");
    QTest::newRow("nothing") << "" << 0 << true << true << 0 << QList<int> { 1, 2, 3, 4 };
    QTest::newRow("name without the diaeresis") << "zurich" << 0 << true << true << 0 << QList<int> { 2 };
    QTest::newRow("capitals") << "ZÜRICH" << 0 << true << true << 0 << QList<int> { 2 };
    QTest::newRow("short description") << "swiss" << 0 << true << true << 0 << QList<int> { 2 };
    QTest::newRow("id") << "3" << 0 << true << true << 0 << QList<int> { 3 };
    QTest::newRow("library category") << "" << 2 << true << true << 0 << QList<int> { 1 };
    QTest::newRow("paid plugins") << "" << 1 << false << true << 0 << QList<int> { 2, 4 };
    QTest::newRow("free only") << "" << 0 << true << false << 0 << QList<int> { 1, 3 };
    QTest::newRow("installed") << "" << 0 << true << true << 1 << QList<int> { 1, 3, 4 };
    QTest::newRow("updates") << "" << 0 << true << true << 2 << QList<int> { 3 };
    QTest::newRow("text, category and show") << "e" << 1 << true << true << 1 << QList<int> { 3, 4 };
    QTest::newRow("no match") << "concorde" << 0 << true << true << 0 << QList<int> {};
    QTest::newRow("no match among the filtered") << "" << 2 << false << true << 0 << QList<int> {};
}

void TestSearch::narrowing()
{
    QFETCH(QString, text);
    QFETCH(int, category);
    QFETCH(bool, free);
    QFETCH(bool, paid);
    QFETCH(int, show);
    QFETCH(QList<int>, visible);
    buildWindow();
    auto *sidebar = m_page->findChild<KOV::Ui::PackageSidebar *>();
    QVERIFY(sidebar->isVisible());
    const QList<QComboBox *> combos = sidebar->findChildren<QComboBox *>();
    QCOMPARE(combos.size(), 2);
    combos.at(0)->setCurrentIndex(category);
    combos.at(1)->setCurrentIndex(show);
    QCOMPARE(combos.at(1)->itemText(2), QStringLiteral("Updates available"));
    auto *types = sidebar->findChild<QListWidget *>();
    types->item(0)->setCheckState(free ? Qt::Checked : Qt::Unchecked);
    types->item(1)->setCheckState(paid ? Qt::Checked : Qt::Unchecked);
    QTest::keyClicks(m_bar->findChild<QLineEdit *>(), text);
    // The list follows after a short pause, not at each key.
    if (!text.isEmpty() && text.size() > 1)
        QCOMPARE(m_fixture->controller->filter()->text(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(m_fixture->controller->filter()->text(), text, 2000);
    QCOMPARE(visibleIds(), visible);

    auto *list = m_page->findChild<TileList *>();
    auto *processing = m_page->findChild<QWidget *>(QStringLiteral("PackageProcessingWidget"));
    QCOMPARE(list->isVisible(), !visible.isEmpty());
    QCOMPARE(processing->isVisible(), visible.isEmpty());
    if (visible.isEmpty()) {
        QStringList texts;
        for (QLabel *label : processing->findChildren<QLabel *>())
            texts << label->text();
        const QString told = text.isEmpty() ? QStringLiteral("No items found")
                                            : QString::fromUtf8("No package matches \"%1\".").arg(text);
        QVERIFY2(texts.contains(told), qPrintable(texts.join('|')));
        QVERIFY(sidebar->isVisible());
    }
}

void TestSearch::escapeAndFindShortcut()
{
    buildWindow();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.data()));
    auto *search = m_bar->findChild<QLineEdit *>();
    m_page->findChild<TileList *>()->setFocus();
    QTest::keySequence(m_window.data(), QKeySequence::Find);
    QTRY_VERIFY(search->hasFocus());
    QTest::keyClicks(search, "jet");
    QTRY_COMPARE_WITH_TIMEOUT(visibleIds(), QList<int> { 3 }, 2000);
    QTest::keyClick(search, Qt::Key_Escape);
    QCOMPARE(search->text(), QString());
    QCOMPARE(visibleIds(), (QList<int> { 1, 2, 3, 4 }));
}

void TestSearch::filterSurvivesInTiles()
{
    buildWindow();
    PackageWidget *before = tile(3);
    m_fixture->controller->filter()->setText("weather");
    QCOMPARE(visibleIds(), QList<int> { 4 });
    m_fixture->controller->filter()->setText(QString());
    // The same tile, not a new one: its state and progress live on.
    QCOMPARE(tile(3), before);
    // A catalogue reload keeps the filter.
    m_fixture->controller->filter()->setShow(PackageFilter::UPDATES);
    m_fixture->publish();
    QCOMPARE(visibleIds(), QList<int> { 3 });
}

void TestSearch::updateAll()
{
    // Two updates, one of them needing a library version that is not installed yet.
    KOVTest::UiFixture &fixture = *m_fixture;
    fixture.catalogue = QJsonArray();
    fixture.addPackage(1, "Library", { "2.0", "1.0" });
    fixture.addPackage(3, "Jetways", { "2.0", "1.0" }, { "1:2.0" });
    fixture.addPackage(4, "Weather", { "1.1", "1.0" });
    fixture.addPackage(5, "Helper", { "1.0" });
    setField(fixture.catalogue, 2, "versions", [&] {
        QJsonArray versions = fixture.catalogue.at(2).toObject().value("versions").toArray();
        QJsonObject newest = versions.at(0).toObject();
        newest["size"] = QFileInfo(fixture.home.path() + "/served/p4-1.1.7z").size();
        versions[0] = newest;
        return versions;
    }());
    fixture.publish();
    fixture.markInstalled(3, "1.0");
    fixture.markInstalled(4, "1.0");
    const auto library = fixture.package(1);
    library->setState(Package::AVAILABLE);
    fixture.controller->saveState(library, QString());
    buildWindow();
    QPushButton *button = nullptr;
    for (QPushButton *candidate : m_bar->findChildren<QPushButton *>()) {
        if (candidate->text().startsWith("Update all"))
            button = candidate;
    }
    QVERIFY(button);
    QTRY_VERIFY(button->isVisible());
    QCOMPARE(button->text(), QStringLiteral("Update all (2)"));

    ModalAnswerer answerer;
    answerer.enqueue(ModalAnswerer::button(QMessageBox::No));
    button->click();
    QTRY_VERIFY(answerer.allAnswered());
    const QString question = answerer.seen().value(0);
    QVERIFY2(question.startsWith("Update all|These packages will be updated:"), qPrintable(question));
    QVERIFY(question.contains("Jetways: 1.0 \u2192 2.0"));
    QVERIFY(question.contains("Weather: 1.0 \u2192 1.1"));
    QVERIFY2(question.contains("These packages come with them:\n\nLibrary\n"), qPrintable(question));
    QVERIFY(!question.contains("Helper"));
    // Only one of the three archives has a size in the catalogue.
    const QString size = KOV::Dialogs::DiskSettingsWidget::formatSize(
        QFileInfo(fixture.home.path() + "/served/p4-1.1.7z").size());
    QVERIFY2(question.contains("Download size: at least " + size), qPrintable(question));
    QTest::qWait(100);
    QCOMPARE(fixture.package(3)->state(), Package::INSTALLED);

    answerer.enqueue(ModalAnswerer::button(QMessageBox::Yes));
    button->click();
    for (int id : { 1, 3, 4 })
        QTRY_VERIFY_WITH_TIMEOUT(fixture.package(id)->state() == Package::INSTALLED
                                     && fixture.controller->installedVersion(fixture.package(id))
                                            == fixture.package(id)->versions().first()->version,
                                 30000);
    QTRY_VERIFY(!button->isVisible());
    QCOMPARE(fixture.package(5)->state(), Package::AVAILABLE);
}

void TestSearch::retryAfterDownloadError()
{
    KOVTest::UiFixture &fixture = *m_fixture;
    buildWindow();
    KOVTest::HttpServer::Behaviour broken;
    broken.dropAfter = 10;
    broken.omitContentLength = false;
    fixture.server.setBehaviour("/p2-1.0.7z", broken);
    ModalAnswerer answerer; // the error box of the visible tile
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Ok));
    actionButton(2)->click();
    QTRY_COMPARE_WITH_TIMEOUT(fixture.package(2)->state(), Package::DOWNLOAD_ERROR, 20000);
    QTRY_VERIFY(answerer.allAnswered());
    QCOMPARE(actionButton(2)->text(), QStringLiteral("Retry"));
    QVERIFY(actionButton(2)->isEnabled());

    // The server is well again: the same version goes on from what arrived.
    fixture.server.clearBehaviours();
    fixture.server.clearRequests();
    actionButton(2)->click();
    QTRY_COMPARE_WITH_TIMEOUT(fixture.package(2)->state(), Package::INSTALLED, 20000);
    QVERIFY2(fixture.server.requestLines().join(' ').contains("GET /p2-1.0.7z bytes="),
             qPrintable(fixture.server.requestLines().join(' ')));
}

void TestSearch::retryAfterInstallError()
{
    KOVTest::UiFixture &fixture = *m_fixture;
    buildWindow();
    // Version 2.0 of Jetways is a damaged archive; 1.0 is installed and stays.
    const QString served = fixture.home.path() + "/served/p3-2.0.7z";
    const QByteArray archive = KOVTest::readFile(served);
    QVERIFY(KOVTest::writeFile(served, archive.left(archive.size() / 2) + QByteArray(200, 'x')));
    ModalAnswerer answerer;
    // Its dependency is installed already: nothing is asked about it.
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Yes)); // the change log
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Ok)); // the error
    actionButton(3)->click();
    QTRY_COMPARE_WITH_TIMEOUT(fixture.package(3)->state(), Package::INSTALL_ERROR, 20000);
    QTRY_VERIFY(answerer.allAnswered());
    QCOMPARE(fixture.controller->installedVersion(fixture.package(3)), QStringLiteral("1.0"));
    QCOMPARE(actionButton(3)->text(), QStringLiteral("Retry"));

    QVERIFY(KOVTest::writeFile(served, archive));
    actionButton(3)->click();
    QTRY_COMPARE_WITH_TIMEOUT(fixture.package(3)->state(), Package::INSTALLED, 20000);
    QCOMPARE(fixture.controller->installedVersion(fixture.package(3)), QStringLiteral("2.0"));
    QCOMPARE(KOVTest::readFile(fixture.xp("Resources/plugins/P3/file.txt")), QByteArray("Jetways 2.0"));
}

void TestSearch::cancelDuringDownload()
{
    KOVTest::UiFixture &fixture = *m_fixture;
    // A big update of Weather, slowly served, and a package on its way that needs it.
    QByteArray big(4 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator(9).fillRange(reinterpret_cast<quint32 *>(big.data()), big.size() / 4);
    KOVTest::writeFile(fixture.home.path() + "/src/weather2/big.bin", big);
    KOVTest::make7z(fixture.home.path() + "/served/p4-2.0.7z", fixture.home.path() + "/src/weather2",
                    { "-mx=0" });
    QJsonArray versions = fixture.catalogue.at(3).toObject().value("versions").toArray();
    QJsonObject newest = versions.at(0).toObject();
    newest["version"] = "2.0";
    newest["link"] = fixture.server.url("/p4-2.0.7z");
    versions.prepend(newest);
    setField(fixture.catalogue, 3, "versions", versions);
    fixture.addPackage(6, "Radar", { "1.0" }, { "4:2.0" });
    fixture.publish();
    KOVTest::HttpServer::Behaviour slow;
    slow.trickleBytes = 16 * 1024;
    slow.trickleIntervalMs = 10;
    fixture.server.setBehaviour("/p4-2.0.7z", slow);
    buildWindow();

    QString latest;
    fixture.controller->installPackage(fixture.package(6), latest);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.package(4)->state(), Package::DOWNLOADING, 10000);
    const QString partial = KOVTest::cachedFile(fixture.home.path() + "/cache", fixture.server.url("/p4-2.0.7z"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(partial).size() > 64 * 1024, 10000);
    QCOMPARE(actionButton(4)->text(), QStringLiteral("Cancel"));
    ModalAnswerer answerer; // Radar's dependency error on its visible tile
    answerer.enqueue(ModalAnswerer::button(QMessageBox::Ok));
    actionButton(4)->click();

    // Back to what it was, on screen and on record; the partial archive stays.
    QCOMPARE(fixture.package(4)->state(), Package::INSTALLED);
    QCOMPARE(fixture.controller->databaseStatus(fixture.package(4)), int(Package::INSTALLED));
    QCOMPARE(fixture.controller->installedVersion(fixture.package(4)), QStringLiteral("1.0"));
    QCOMPARE(fixture.package(6)->state(), Package::DEPENDENCY_ERROR);
    QVERIFY(!fixture.downloads->hasRunningDownloads());
    const qint64 kept = QFileInfo(partial).size();
    QTest::qWait(300);
    QVERIFY(kept > 0);
    QCOMPARE(QFileInfo(partial).size(), kept);
    // Nothing of the new version reached the X-Plane folder.
    QVERIFY(!QFileInfo::exists(fixture.xp("Resources/plugins/P4/big.bin")));
    QTRY_VERIFY(answerer.allAnswered());
}

void TestSearch::showFilterSettingFollowsAtNextList()
{
    buildWindow();
    auto *search = m_bar->findChild<QLineEdit *>();
    QVERIFY(search->isVisible());
    m_fixture->controller->filter()->setText("jet");
    QCOMPARE(visibleIds(), QList<int> { 3 });

    // The General page's check box writes the setting; the list and the top bar follow at the next list.
    KOV::Dialogs::SettingsDialog dialog(m_fixture->controller, m_fixture->settings);
    auto *box = dialog.findChild<QCheckBox *>();
    QCOMPARE(box->text(), QStringLiteral("Show search and filters"));
    QVERIFY(box->isChecked());
    box->setChecked(false);
    QCOMPARE(m_fixture->settings->edited().showFilter.value, QStringLiteral("false"));
    m_fixture->settings->commit();
    QVERIFY(search->isVisible());
    m_fixture->publish();
    QVERIFY(!search->isVisible());
    QVERIFY(!m_page->findChild<KOV::Ui::PackageSidebar *>()->isVisible());
    // Nothing may stay hidden without the controls to show it again.
    QCOMPARE(visibleIds(), (QList<int> { 1, 2, 3, 4 }));

    box->setChecked(true);
    QCOMPARE(m_fixture->settings->edited().showFilter.value, QStringLiteral("true"));
    m_fixture->settings->commit();
    m_fixture->publish();
    QVERIFY(search->isVisible());
}

QTEST_MAIN(TestSearch)
#include "tst_search.moc"
