// Makes the demo: a catalogue of packages with real 7z archives, icons and banners drawn here,
// a stand-in X-Plane folder, and a settings file that points the program at both.
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTextStream>

#include "catalogue/archivescan.h"
#include "catalogue/cataloguelint.h"
#include "catalogue/secretkey.h"
#include "managers/minisign.h"

namespace {

struct DemoVersion
{
    QString version;
    QStringList depends;
    QStringList log;
};

struct DemoPackage
{
    int id;
    QString type;
    QString folder; // below the X-Plane root
    QString nameEn, nameDe, shortEn, shortDe, descriptionEn, descriptionDe;
    QColor colour;
    QVector<DemoVersion> versions;
    QStringList preserve;
    QStringList backup;
    QMap<QString, QByteArray> extraFiles; // relative to the extract folder
};

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

void drawIcon(const QString &path, const QString &letters, const QColor &colour)
{
    QImage image(192, 192, QImage::Format_ARGB32);
    image.fill(colour.darker(160));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colour);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRect(16, 16, 160, 160));
    QFont font;
    font.setPixelSize(72);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(image.rect(), Qt::AlignCenter, letters);
    painter.end();
    image.save(path);
}

void drawBanner(const QString &path, const QString &title, const QColor &colour, int number)
{
    QImage image(1280, 720, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, 720);
    sky.setColorAt(0, colour.lighter(150));
    sky.setColorAt(1, colour.darker(200));
    painter.fillRect(image.rect(), sky);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(255, 255, 255, 90), 6));
    for (int i = 0; i < 6; ++i)
        painter.drawLine(0, 520 + i * 40, 1280, 380 + i * 70 + number * 10);
    QFont font;
    font.setPixelSize(96);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(image.rect().adjusted(0, 0, 0, -200), Qt::AlignCenter, title);
    font.setPixelSize(40);
    painter.setFont(font);
    painter.drawText(image.rect().adjusted(0, 200, 0, 0), Qt::AlignCenter,
                     QStringLiteral("Picture %1").arg(number));
    painter.end();
    image.save(path, "PNG");
}

bool make7z(const QString &archive, const QString &folder)
{
    QFile::remove(archive);
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral("7z"),
                  { QStringLiteral("a"), QStringLiteral("-bd"), archive, QStringLiteral(".") });
    return process.waitForFinished(120000) && process.exitCode() == 0;
}

// The demo's own key, made once and kept beside the demo as a publisher keeps theirs; each run's serial is
// the time, so that a demo made again is newer than the one before.
bool signDemo(const QByteArray &json, const QString &served, const QString &out, const QString &keys)
{
    using KOV::Publishing::SecretKey;
    const QString secret = out + QStringLiteral("/kovvazuv-demo.key");
    SecretKey key;
    QString error;
    QFile file(secret);
    if (!file.open(QIODevice::ReadOnly) || !SecretKey::read(file.readAll(), QByteArray(), &key, &error)) {
        file.close();
        if (!SecretKey::generate(&key) || !file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return false;
        file.write(SecretKey::write(key));
    }
    file.close();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QByteArray comment = "serial=" + QByteArray::number(now.toSecsSinceEpoch()) + " expires="
                               + now.addDays(30).toString(Qt::ISODate).toLatin1();
    return writeFile(served + QStringLiteral("/packages.json.minisig"),
                     KOV::Managers::Minisign::sign(json, key.seed, key.id, comment))
           && writeFile(keys + QStringLiteral("/kovvazuv-demo.pub"), KOV::Managers::Minisign::publicKeyFile(key.publicKey()));
}

QJsonObject texts(const QString &en, const QString &de)
{
    return QJsonObject { { "en", en }, { "de", de } };
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Makes the KovVazuv demo catalogue and X-Plane folder."));
    parser.addHelpOption();
    parser.addOption(
        { QStringLiteral("out"), QStringLiteral("Folder to make the demo in."), QStringLiteral("folder") });
    parser.addOption({ QStringLiteral("base-url"), QStringLiteral("Where the catalogue will be served."),
                       QStringLiteral("url"), QStringLiteral("http://127.0.0.1:8787/") });
    parser.addOption({ QStringLiteral("keys"),
                       QStringLiteral("Sign the catalogue with the demo key and put its public key in this folder "
                                      "(the keys/ beside the program)."),
                       QStringLiteral("folder") });
    parser.process(application);
    const QString out = QDir(parser.value(QStringLiteral("out"))).absolutePath();
    const QString base = parser.value(QStringLiteral("base-url"));
    const QString served = out + QStringLiteral("/served");
    const QString xplane = out + QStringLiteral("/X-Plane 12");
    QDir(served).removeRecursively();
    QDir().mkpath(served);

    // Textures that do not compress, so that one archive is large enough to watch it download.
    QByteArray textures(3 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator(2026).fillRange(reinterpret_cast<quint32 *>(textures.data()), textures.size() / 4);
    const QVector<DemoPackage> packages {
        { 1,
          "LIBRARY",
          "Custom Data",
          "KOV Library",
          "KOV-Bibliothek",
          "Shared objects for every KOV add-on",
          "Gemeinsame Objekte für alle KOV-Erweiterungen",
          "<p>The <b>KOV Library</b> holds the objects and textures that the other add-ons share.</p>",
          "<p>Die <b>KOV-Bibliothek</b> enthält die Objekte und Texturen, die die anderen Erweiterungen "
          "teilen.</p>",
          QColor(0x2a, 0x81, 0xc0),
          { { "1.0.0", {}, { "First release" } },
            { "1.1.0", {}, { "Animated ground vehicles", "Smaller textures" } } },
          {},
          {},
          {} },
        { 2,
          "PLUGIN",
          "Resources/plugins/GroundTraffic",
          "Ground Traffic",
          "Bodenverkehr",
          "Service vehicles that move around the apron",
          "Servicefahrzeuge, die sich auf dem Vorfeld bewegen",
          "<p>Adds <i>catering trucks</i>, fuel bowsers and buses.</p><ul><li>Needs the KOV Library "
          "1.1</li></ul>",
          "<p>Fügt <i>Catering-Wagen</i>, Tankwagen und Busse hinzu.</p><ul><li>Braucht die KOV-Bibliothek "
          "1.1</li></ul>",
          QColor(0x66, 0xb7, 0x71),
          { { "1.0.0", { "1:1.1.0" }, { "First release" } } },
          {},
          {},
          {} },
        { 3,
          "PLUGIN",
          "Resources/plugins/Jetways",
          "Jetways",
          "Fluggastbrücken",
          "Docking jetways at every gate",
          "Andockende Fluggastbrücken an jedem Gate",
          "<p>Jetways that <b>dock</b> to your aircraft.</p>",
          "<p>Fluggastbrücken, die an Ihr Flugzeug <b>andocken</b>.</p>",
          QColor(0xCA, 0x43, 0x41),
          { { "2.1.0", { "1:1.0.0" }, { "Works with X-Plane 12" } } },
          {},
          {},
          {} },
        { 4,
          "PLUGIN",
          "Resources/plugins/WeatherRadar",
          "Weather Radar",
          "Wetterradar",
          "A weather radar for the glass cockpit",
          "Ein Wetterradar für das Glascockpit",
          "<p>Shows precipitation on the navigation display.</p>",
          "<p>Zeigt Niederschlag auf dem Navigationsdisplay an.</p>",
          QColor(0x8C, 0x8C, 0x11),
          { { "1.0.0", {}, { "First release" } },
            { "1.1.0", {}, { "Less flicker", "Works at night" } },
            { "2.0.0", {}, { "New colour scale", "Turbulence mode" } } },
          {},
          {},
          {} },
        { 5,
          "PLUGIN",
          "Resources/plugins/CockpitTweaks",
          "Cockpit Tweaks",
          "Cockpit-Feinschliff",
          "Small changes you set up once",
          "Kleine Änderungen, einmal eingestellt",
          "<p>Your <code>settings.ini</code> is kept across updates.</p>",
          "<p>Ihre <code>settings.ini</code> bleibt bei Aktualisierungen erhalten.</p>",
          QColor(0x80, 0x50, 0xb0),
          { { "1.0.0", {}, { "First release" } }, { "1.2.0", {}, { "Quieter fans" } } },
          { "Resources/plugins/CockpitTweaks/settings.ini" },
          {},
          { { "settings.ini", "[tweaks]\nfans=loud\n" } } },
        { 6,
          "PLUGIN",
          "",
          "HD Runways",
          "HD-Pisten",
          "Sharper runway textures",
          "Schärfere Pistentexturen",
          "<p>Replaces X-Plane's <b>runway texture</b>; uninstalling puts the original back.</p>",
          "<p>Ersetzt die <b>Pistentextur</b> von X-Plane; beim Deinstallieren kommt das Original "
          "zurück.</p>",
          QColor(0x42, 0x42, 0x42),
          { { "1.0.0", {}, { "First release" } } },
          {},
          { "Resources/default scenery/runway.txt" },
          { { "Resources/default scenery/runway.txt", "HD runway texture from HD Runways\n" },
            { "Resources/plugins/HDRunways/runway-textures.dds", textures } } },
    };

    QJsonArray catalogue;
    for (const DemoPackage &package : packages) {
        const QString key = QStringLiteral("p%1").arg(package.id);
        drawIcon(served + "/" + key + "-icon.png", package.nameEn.left(2).toUpper(), package.colour);
        QJsonArray banners;
        for (int i = 1; i <= 3; ++i) {
            drawBanner(served + QStringLiteral("/%1-banner%2.png").arg(key).arg(i), package.nameEn,
                       package.colour, i);
            banners.append(base + QStringLiteral("%1-banner%2.png").arg(key).arg(i));
        }
        QJsonArray versions;
        // Newest first, as kov-catalogue lint asks.
        for (auto it = package.versions.crbegin(); it != package.versions.crend(); ++it) {
            const DemoVersion &version = *it;
            const QString source = out + "/build/" + key + "-" + version.version;
            QDir(source).removeRecursively();
            // Every file inside what the uninstallation removes, so that it leaves none behind.
            const QString inner = package.folder.isEmpty() ? QStringLiteral("Resources/plugins/HDRunways")
                                  : package.id == 1        ? QStringLiteral("lib/KOV_Library")
                                                           : QString();
            writeFile(source + "/" + inner + (inner.isEmpty() ? "" : "/") + "README.txt",
                      (package.nameEn + " " + version.version + "\n").toUtf8());
            const QString versionFile = package.id == 1 ? QStringLiteral("lib/KOV_Library/KOV_version.txt")
                                                        : QStringLiteral("KOV_version.txt");
            if (!package.folder.isEmpty())
                writeFile(source + "/" + versionFile,
                          (package.nameEn + "\nKovVazuv demo\n" + version.version + "\n").toUtf8());
            for (auto it = package.extraFiles.cbegin(); it != package.extraFiles.cend(); ++it)
                writeFile(source + "/" + it.key(), it.value());
            const QString archive = QStringLiteral("%1-%2.7z").arg(key, version.version);
            if (!make7z(served + "/" + archive, source)) {
                QTextStream(stderr) << "7z failed for " << archive << "\n";
                return 1;
            }
            QStringList remove;
            if (package.id == 1)
                remove << QStringLiteral("Custom Data/lib/KOV_Library");
            else if (!package.folder.isEmpty())
                remove << package.folder;
            else
                remove << QStringLiteral("Resources/plugins/HDRunways") << package.backup;
            // What a publisher runs: kov-catalogue scan.
            const KOV::Publishing::ArchiveScan scanned = KOV::Publishing::ArchiveScan::scan(served + "/" + archive);
            if (!scanned.readable || !scanned.unsafe.isEmpty()) {
                QTextStream(stderr) << "the demo archive " << archive << " does not scan\n";
                return 1;
            }
            versions.append(QJsonObject {
                { "version", version.version },
                { "link", base + archive },
                { "sha256", scanned.sha256 },
                { "size", double(scanned.size) },
                { "depends", QJsonArray::fromStringList(version.depends) },
                { "log", QJsonArray::fromStringList(version.log) },
                { "install", QJsonObject { { "extract", package.folder },
                                           { "preserve", QJsonArray::fromStringList(package.preserve) },
                                           { "backup", QJsonArray::fromStringList(package.backup) } } },
                { "uninstall", QJsonObject { { "remove", QJsonArray::fromStringList(remove) } } } });
        }
        catalogue.append(QJsonObject { { "id", package.id },
                                       { "name", texts(package.nameEn, package.nameDe) },
                                       { "short_description", texts(package.shortEn, package.shortDe) },
                                       { "description", texts(package.descriptionEn, package.descriptionDe) },
                                       { "icon", base + key + "-icon.png" },
                                       { "type", package.type },
                                       { "manual_url", base + key + "-manual.html" },
                                       { "help_url", base + key + "-help.html" },
                                       { "banner", banners },
                                       { "versions", versions } });
        writeFile(served + "/" + key + "-manual.html", ("<h1>" + package.nameEn + " manual</h1>").toUtf8());
        writeFile(served + "/" + key + "-help.html", ("<h1>" + package.nameEn + " help</h1>").toUtf8());
    }
    const QByteArray json = QJsonDocument(catalogue).toJson();
    // And kov-catalogue lint: the demo is the worked example of a catalogue that passes.
    const auto problems = KOV::Publishing::CatalogueLint::check(json);
    for (const auto &problem : problems)
        QTextStream(stderr) << KOV::Publishing::CatalogueLint::format(QStringLiteral("packages.json"), problem) << "\n";
    if (!problems.isEmpty())
        return 1;
    writeFile(served + "/packages.json", json);
    if (parser.isSet(QStringLiteral("keys")) && !signDemo(json, served, out, parser.value(QStringLiteral("keys")))) {
        QTextStream(stderr) << "cannot sign the demo catalogue\n";
        return 1;
    }
    QDir(out + "/build").removeRecursively();

    // A stand-in X-Plane: the executable start-up looks for, and the file HD Runways replaces.
    writeFile(xplane + "/X-Plane-x86_64",
              "#!/bin/sh\necho 'This is the KovVazuv demo stand-in for X-Plane.'\n");
    QFile(xplane + "/X-Plane-x86_64")
        .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                        | QFileDevice::ReadGroup | QFileDevice::ExeGroup);
    if (!QFileInfo::exists(xplane + "/Resources/default scenery/runway.txt"))
        writeFile(xplane + "/Resources/default scenery/runway.txt", "X-Plane's own runway texture\n");
    QTextStream(stdout) << "demo catalogue in " << served << ", X-Plane folder " << xplane << "\n";
    return 0;
}
