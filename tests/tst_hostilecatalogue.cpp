// What a catalogue made to hurt can do to the interface: no file, device or pipe it names is opened, no text
// or image it brings costs more than it may, and nothing hangs.

#include <QImageWriter>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTextDocumentFragment>
#include <QtTest>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "common/imageloader.h"
#include "components/inerthtmlview.h"
#include "controllers/cataloguereader.h"
#include "ui/messagebox.h"
#include "ui/packagedetailwidget.h"
#include "ui/packagewidget.h"
#include "uifixture.h"

using KOV::Components::InertHtmlView;
using KOV::Controllers::CatalogueReader;
using KOV::ImageLoader;

namespace {

/** A named pipe that tells whether anybody opened it for reading, without ever blocking them or the test. */
class PipeWatch
{
public:
    explicit PipeWatch(const QString &path)
        : m_path(QFile::encodeName(path))
    {
        ::mkfifo(m_path.constData(), 0600);
        m_thread = std::thread([this] {
            while (!m_stop) {
                // Opening to write without blocking succeeds only while a reader holds the pipe.
                const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    m_opened = true;
                    ::close(fd);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    ~PipeWatch()
    {
        m_stop = true;
        m_thread.join();
        ::unlink(m_path.constData());
    }
    Q_DISABLE_COPY_MOVE(PipeWatch)

    bool opened() const { return m_opened; }

private:
    QByteArray m_path;
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_opened { false };
    std::thread m_thread;
};

QByteArray pngChunk(const QByteArray &type, const QByteArray &data)
{
    QByteArray chunk;
    QDataStream stream(&chunk, QIODevice::WriteOnly);
    stream << quint32(data.size());
    chunk += type + data;
    const QByteArray covered = type + data;
    const quint32 crc = ::crc32(0, reinterpret_cast<const Bytef *>(covered.constData()), uInt(covered.size()));
    QByteArray tail;
    QDataStream(&tail, QIODevice::WriteOnly) << crc;
    return chunk + tail;
}

/** A small file whose header claims a picture of `width` x `height` pixels. */
QByteArray claimedPng(quint32 width, quint32 height)
{
    QByteArray header;
    QDataStream(&header, QIODevice::WriteOnly) << width << height << quint8(8) << quint8(6) << quint8(0)
                                               << quint8(0) << quint8(0);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header)
           + pngChunk("IDAT", QByteArray(64 * 1024, '\0')) + pngChunk("IEND", QByteArray());
}

} // namespace

class TestHostileCatalogue final : public QObject
{
    Q_OBJECT
private slots:
    void markupLoadsNothing_data();
    void markupLoadsNothing();
    void stripKeepsTheText();
    void linksOpenOnlyTheWeb_data();
    void linksOpenOnlyTheWeb();
    void imagesWithinBounds_data();
    void imagesWithinBounds();
    void longTextsAreCut();
    void largeCatalogueIsRefused_data();
    void largeCatalogueIsRefused();
};

void TestHostileCatalogue::markupLoadsNothing_data()
{
    QTest::addColumn<QString>("markup"); // %1 is the pipe
    QTest::newRow("image") << R"x(<img src="%1">)x";
    QTest::newRow("image as a file link") << R"x(<img src="file://%1">)x";
    QTest::newRow("style sheet") << R"x(<link rel="stylesheet" type="text/css" href="%1">)x";
    QTest::newRow("body background") << R"x(<body background="%1">text</body>)x";
    QTest::newRow("table background") << R"x(<table background="%1"><tr><td background="%1">x</td></tr></table>)x";
    QTest::newRow("css background") << R"x(<p style="background-image: url(%1)">text</p>)x";
    QTest::newRow("imported css") << R"x(<style>@import url("%1");</style><p>text</p>)x";
}

void TestHostileCatalogue::markupLoadsNothing()
{
    QFETCH(QString, markup);
    KOVTest::UiFixture fixture;
    const PipeWatch pipe(fixture.home.path() + "/pipe");
    const QString html = markup.arg(fixture.home.path() + "/pipe");
    fixture.addPackage(5, html, { "2.0", "1.0" });
    QJsonObject package = fixture.catalogue.at(0).toObject();
    package["description"] = QJsonObject { { "en", html } };
    package["short_description"] = QJsonObject { { "en", html } };
    QJsonArray versions = package["versions"].toArray();
    QJsonObject newest = versions.at(0).toObject();
    newest["log"] = QJsonArray { html };
    versions[0] = newest;
    package["versions"] = versions;
    fixture.catalogue[0] = package;
    fixture.publish();
    fixture.markInstalled(5, "1.0");

    // The detail page, the tile, the change-log question and the failure box, all shown and painted.
    KOV::Ui::PackageDetailWidget page(fixture.controller);
    page.resize(1000, 800);
    page.showPackage(fixture.package(5));
    auto *tabs = page.findChild<QTabWidget *>();
    for (int tab = 0; tab < tabs->count(); ++tab) {
        tabs->setCurrentIndex(tab);
        page.grab();
    }
    KOV::Ui::PackageWidget tile(fixture.controller, fixture.package(5));
    tile.show();
    tile.grab();
    KOVTest::ModalAnswerer answerer;
    answerer.enqueue(KOVTest::ModalAnswerer::button(QMessageBox::No));
    KOV::Ui::MessageBox::askAboutHtml(&tile, "Change Log", fixture.controller->changeLogHtml(fixture.package(5), {}),
                                      "Install ?");
    fixture.package(5)->setState(KOV::Models::Package::DOWNLOAD_ERROR);
    // The question, then the failure on the tile and on the page.
    QTRY_COMPARE(answerer.seen().size(), 3);
    QTest::qWait(50);
    QVERIFY(!pipe.opened());
}

void TestHostileCatalogue::stripKeepsTheText()
{
    const QString stripped = InertHtmlView::strip(
        R"x(<p>Before <img src="/dev/zero" alt="x"> <b>bold</b> <a href="https://example.org/">link</a></p>)x"
        R"x(<ul><li>one</li><li>two</li></ul><div style="background-image: url(/dev/zero)">after</div>)x");
    QVERIFY(!stripped.contains("/dev/zero"));
    QVERIFY(!stripped.contains("<img"));
    QCOMPARE(QTextDocumentFragment::fromHtml(stripped).toPlainText(), QStringLiteral("Before bold link\none\ntwo\nafter"));
    QVERIFY(stripped.contains("https://example.org/"));
    QVERIFY(stripped.contains("<b>bold</b>"));
    QVERIFY(stripped.contains("<ul><li>one</li><li>two</li></ul>"));
}

void TestHostileCatalogue::linksOpenOnlyTheWeb_data()
{
    QTest::addColumn<QString>("link");
    QTest::newRow("file") << "file:///etc/passwd";
    QTest::newRow("program") << "/usr/bin/xterm";
    QTest::newRow("resource") << "qrc:/resources/style.qss";
    QTest::newRow("script") << "javascript:alert(1)x";
}

void TestHostileCatalogue::linksOpenOnlyTheWeb()
{
    QFETCH(QString, link);
    KOVTest::UiFixture fixture;
    fixture.addPackage(5, "Five", { "1.0" });
    QJsonObject package = fixture.catalogue.at(0).toObject();
    package["help_url"] = link;
    package["manual_url"] = link;
    package["description"] = QJsonObject { { "en", "<a href=\"" + link + "\">go</a>" } };
    fixture.catalogue[0] = package;
    fixture.publish();
    KOV::Ui::PackageDetailWidget page(fixture.controller);
    page.showPackage(fixture.package(5));

    // The help and manual buttons, and the link in the description: each refused with the link named.
    KOVTest::ModalAnswerer answerer;
    for (const QString &name : { QStringLiteral("Get Help"), QStringLiteral("Manual") }) {
        for (QPushButton *button : page.findChildren<QPushButton *>()) {
            if (button->text() == name)
                button->click();
        }
    }
    auto *description = page.findChild<InertHtmlView *>("DetailDescription");
    emit description->anchorClicked(QUrl(link, QUrl::TolerantMode));
    QTRY_COMPARE(answerer.seen().size(), 3);
    for (const QString &seen : answerer.seen())
        QVERIFY2(seen.startsWith("Link|This link is not supported: "), qPrintable(seen));
}

void TestHostileCatalogue::imagesWithinBounds_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QSize>("decoded"); // null: refused
    QImage picture(400, 300, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    QTest::newRow("shown size") << png << QSize(96, 72);
    QTest::newRow("20000 x 20000 pixels in a small file") << claimedPng(20000, 20000) << QSize();
    QTest::newRow("7000 x 7000 pixels") << claimedPng(7000, 7000) << QSize();
    QTest::newRow("larger than 16 MiB") << png + QByteArray(17 * 1024 * 1024, '\0') << QSize();
    QTest::newRow("no image") << QByteArray("<html>not a picture</html>") << QSize();
}

void TestHostileCatalogue::imagesWithinBounds()
{
    QFETCH(QByteArray, content);
    QFETCH(QSize, decoded);
    QTemporaryDir dir;
    const QString path = dir.path() + "/image.png";
    QVERIFY(KOVTest::writeFile(path, content));
    QElapsedTimer timer;
    timer.start();
    const QImage image = ImageLoader::read(path, QSize(96, 96));
    QCOMPARE(image.size(), decoded.isValid() ? decoded : QSize(0, 0));
    QVERIFY(timer.elapsed() < 2000);

    // Off the interface thread, and never for a receiver that is gone.
    QImage later;
    bool delivered = false;
    auto *receiver = new QObject;
    ImageLoader::readLater(path, QSize(96, 96), receiver, [&](const QImage &result) {
        later = result;
        delivered = true;
    });
    QTRY_VERIFY(delivered);
    QCOMPARE(later.size(), image.size());
    delivered = false;
    ImageLoader::readLater(path, QSize(96, 96), receiver, [&](const QImage &) { delivered = true; });
    delete receiver;
    QTest::qWait(300);
    QVERIFY(!delivered);
    // A device is never read as an image.
    QVERIFY(ImageLoader::read("/dev/zero", QSize(96, 96)).isNull());
}

void TestHostileCatalogue::longTextsAreCut()
{
    const QString huge(1024 * 1024, QLatin1Char('d'));
    QJsonArray lines;
    for (int i = 0; i < 40; ++i)
        lines.append(QString(10 * 1024, QLatin1Char('l')));
    const QJsonArray catalogue { QJsonObject {
        { "id", 1 },
        { "description", QJsonObject { { "en", huge } } },
        { "versions", QJsonArray { QJsonObject { { "version", "1.0" }, { "link", "http://host/a.7z" }, { "log", lines } } } } } };
    KOVTest::LogCapture log;
    const auto packages = CatalogueReader::read(QJsonDocument(catalogue).toJson(), "en");
    QCOMPARE(packages.size(), 1);
    QCOMPARE(packages.first()->description().size(), CatalogueReader::maximumTextSize);
    QCOMPARE(packages.first()->versions().first()->log.size(), 25);
    QVERIFY(log.contains("Catalogue Warning : the description of package 1 is cut"));
    QVERIFY(log.contains("Catalogue Warning : the change log of package 1 version"));
}

void TestHostileCatalogue::largeCatalogueIsRefused_data()
{
    QTest::addColumn<bool>("local");
    QTest::newRow("from the server") << false;
    QTest::newRow("local repository") << true;
}

void TestHostileCatalogue::largeCatalogueIsRefused()
{
    QFETCH(bool, local);
    KOVTest::UiFixture fixture(QStringLiteral("false"), local ? QStringLiteral("true") : QStringLiteral("false"));
    // A sparse file: 65 MiB that cost no disk.
    const QString served = local ? QCoreApplication::applicationDirPath() + "/packages.json"
                                 : fixture.home.path() + "/served/packages.json";
    const QByteArray before = KOVTest::readFile(served);
    QFile file(served);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QVERIFY(file.write("[") == 1);
    QVERIFY(file.resize(CatalogueReader::maximumDocumentSize + 1024 * 1024));
    file.close();
    KOVTest::LogCapture log;
    QSignalSpy error(fixture.controller.data(), &KOV::Controllers::PackageController::error);
    fixture.controller->loadCatalogue();
    QVERIFY(error.wait(20000));
    if (local) {
        QVERIFY(log.contains("Catalogue Error : "));
        if (before.isEmpty())
            QFile::remove(served);
        else
            QVERIFY(KOVTest::writeFile(served, before));
    } else {
        QCOMPARE(error.first().first().toString(), QStringLiteral("The file is larger than 64 MiB."));
        QVERIFY(QDir(fixture.home.path() + "/cache").entryList(QDir::Files).isEmpty());
    }
    QVERIFY(fixture.controller->packages().isEmpty());
}

QTEST_MAIN(TestHostileCatalogue)
#include "tst_hostilecatalogue.moc"
