// kov-catalogue as a publisher uses it: scan archives, lint the catalogue with the program's rules, make keys
// and sign, checked against Debian's minisign both ways; and the whole way from archives to a package the
// program installs from a catalogue that nginx serves.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>

#include "controllers/cataloguetrust.h"
#include "managers/minisign.h"
#include "nginxserver.h"
#include "ui/packagewidget.h"
#include "uifixture.h"

using KOV::Models::Package;

namespace {

struct Run
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

Run run(const QString &program, const QStringList &arguments, const QString &folder, const QByteArray &input = {})
{
    QProcess process;
    process.setWorkingDirectory(folder);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The tool's own leaks are not this test's; its crashes are.
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    Run result;
    // The event loop turns meanwhile: a server of this test answers the tool.
    QElapsedTimer timer;
    timer.start();
    while (process.state() != QProcess::NotRunning && timer.elapsed() < 60000)
        QTest::qWait(5);
    if (process.state() != QProcess::NotRunning)
        return result;
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QString tool()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/kov-catalogue");
}

// A version entry that passes lint, to be spoilt one field at a time.
QJsonObject goodVersion(const QString &number)
{
    return { { "version", number },
             { "link", "https://addons.example.org/kov/a-" + number + ".7z" },
             { "sha256", QString(64, QLatin1Char('a')) },
             { "size", 1000 },
             { "install", QJsonObject { { "extract", "Resources/plugins/A" } } },
             { "uninstall", QJsonObject { { "remove", QJsonArray { "Resources/plugins/A" } } } } };
}

} // namespace

class TestPublishing final : public QObject
{
    Q_OBJECT
private slots:
    void helpForEveryCommand_data();
    void helpForEveryCommand();
    void lintFindsMistakes_data();
    void lintFindsMistakes();
    void lintFetchComparesWithTheServer();
    void scanReportsUnsafeArchives_data();
    void scanReportsUnsafeArchives();
    void keysAndSignatures();
    void minisignBothWays_data();
    void minisignBothWays();
    void fromArchivesToAnInstalledPackage();

private:
    QString minisign() const { return QStandardPaths::findExecutable(QStringLiteral("minisign")); }
    QTemporaryDir m_dir;
};

void TestPublishing::helpForEveryCommand_data()
{
    QTest::addColumn<QString>("command");
    for (const char *command : { "scan", "lint", "keygen", "sign", "verify" })
        QTest::newRow(command) << command;
}

void TestPublishing::helpForEveryCommand()
{
    QFETCH(QString, command);
    const Run help = run(tool(), { command, "--help" }, m_dir.path());
    QCOMPARE(help.status, 0);
    QVERIFY2(help.out.contains("Usage: kov-catalogue " + command.toLatin1()), help.out.constData());
    // Nothing to work on is "could not run", not "problems found".
    if (command != "keygen")
        QCOMPARE(run(tool(), { command }, m_dir.path()).status, 2);
}

void TestPublishing::lintFindsMistakes_data()
{
    // A catalogue of two packages; the first one's version is changed in one field.
    QTest::addColumn<QString>("field"); // the version's field ("-": none; "#id": the package's id; "#order")
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<QString>("message"); // "" when it passes
    QTest::addColumn<QString>("token"); // what the line named in the message holds
    QTest::newRow("as written") << "-" << QJsonValue() << QString() << QString();
    QTest::newRow("extract leaves") << "install" << QJsonValue(QJsonObject { { "extract", "../plugins" } })
                                    << "versions[0].install.extract: leaves the X-Plane folder" << "../plugins";
    QTest::newRow("remove plugins") << "uninstall" << QJsonValue(QJsonObject { { "remove", QJsonArray { "Resources/plugins" } } })
                                    << "versions[0].uninstall.remove[0]: names one of X-Plane's own folders"
                                    << "\"Resources/plugins\"";
    QTest::newRow("remove through a parent")
        << "uninstall" << QJsonValue(QJsonObject { { "remove", QJsonArray { "Resources/plugins/A/.." } } })
        << "versions[0].uninstall.remove[0]: leaves the X-Plane folder" << "A/..";
    QTest::newRow("remove an ancestor")
        << "install" << QJsonValue(QJsonObject { { "extract", "Resources/plugins/A/bin" } })
        << "versions[0].uninstall.remove[0]: holds the package's own folder" << "\"Resources/plugins/A\"";
    QTest::newRow("file link") << "link" << QJsonValue("file:///etc/passwd")
                               << "versions[0].link: not an http or https link: file:///etc/passwd" << "file:///";
    QTest::newRow("short sum") << "sha256" << QJsonValue("abc") << "versions[0].sha256: must be 64 hexadecimal digits"
                               << "\"abc\"";
    QTest::newRow("no sum") << "sha256" << QJsonValue(QJsonValue::Undefined) << "versions[0]: has no sha256" << "{";
    QTest::newRow("negative size") << "size" << QJsonValue(-4) << "versions[0].size: must be a whole number of bytes" << "-4";
    QTest::newRow("size as text") << "size" << QJsonValue("4") << "versions[0].size: must be a whole number of bytes" << "\"4\"";
    QTest::newRow("version not a number") << "version" << QJsonValue("2.0-beta")
                                          << "versions[0].version: not a version number of dotted integers" << "2.0-beta";
    QTest::newRow("missing dependency") << "depends" << QJsonValue(QJsonArray { "9:1.0" })
                                        << "versions[0].depends[0]: no package has the id 9" << "9:1.0";
    QTest::newRow("dependency too new") << "depends" << QJsonValue(QJsonArray { "2:5.0" })
                                        << "versions[0].depends[0]: package 2 offers no version 5.0 or newer" << "2:5.0";
    QTest::newRow("dependency cycle") << "depends" << QJsonValue(QJsonArray { "2" }) << "dependency cycle: 1 -> 2 -> 1"
                                      << "{";
    QTest::newRow("mirror not on the web") << "mirrors" << QJsonValue(QJsonArray { "ftp://mirror/a.7z" })
                                           << "versions[0].mirrors[0]: not an http or https link" << "ftp://";
    QTest::newRow("a typo") << "remvoe" << QJsonValue(QJsonArray()) << "versions[0].remvoe: unknown key" << "remvoe";
    QTest::newRow("duplicate id") << "#id" << QJsonValue(2) << "id: the id 2 is taken by an earlier package" << "\"id\": 2";
    QTest::newRow("id as text") << "#id" << QJsonValue("1") << "id: must be a whole number" << "\"1\"";
    QTest::newRow("versions out of order") << "#order" << QJsonValue() << "versions[1]: 2.0 is not older than 1.0" << "{";
}

void TestPublishing::lintFindsMistakes()
{
    QFETCH(QString, field);
    QFETCH(QJsonValue, value);
    QFETCH(QString, message);
    QFETCH(QString, token);
    QJsonObject version = goodVersion("2.0");
    QJsonObject first { { "id", 1 }, { "name", QJsonObject { { "en", "A" } } } };
    if (field == "#id") {
        first["id"] = value;
    } else if (field != "-" && field != "#order") {
        if (value.isUndefined())
            version.remove(field);
        else
            version[field] = value;
    }
    first["versions"] = field == "#order" ? QJsonArray { goodVersion("1.0"), goodVersion("2.0") } : QJsonArray { version };
    // The second package needs the first: a cycle when the first needs it back.
    QJsonObject secondVersion = goodVersion("1.0");
    secondVersion["depends"] = QJsonArray { "1" };
    const QJsonObject second { { "id", 2 }, { "name", QJsonObject { { "en", "B" } } }, { "versions", QJsonArray { secondVersion } } };
    const QByteArray json = QJsonDocument(QJsonArray { first, second }).toJson();
    const QString file = m_dir.path() + "/lint.json";
    QVERIFY(KOVTest::writeFile(file, json));

    const Run lint = run(tool(), { "lint", "lint.json" }, m_dir.path());
    if (message.isEmpty()) {
        QVERIFY2(lint.status == 0 && lint.err.isEmpty(), lint.err.constData());
        return;
    }
    QCOMPARE(lint.status, 1);
    // The message names the file and the line, then the field's path in its package.
    const QString errors = QString::fromUtf8(lint.err);
    const int at = errors.indexOf(message);
    QVERIFY2(at > 0, qPrintable(errors));
    const QString line = errors.left(at).section('\n', -1);
    QVERIFY2(QRegularExpression("^lint\\.json:\\d+: ").match(line).hasMatch(), qPrintable(line));
    const int number = line.section(':', 1, 1).toInt();
    QVERIFY2(json.split('\n').value(number - 1).contains(token.toUtf8()),
             qPrintable(QStringLiteral("line %1: %2").arg(number).arg(QString::fromUtf8(json.split('\n').value(number - 1)))));
    // sign refuses what lint refuses.
    QCOMPARE(run(tool(), { "keygen", "--force" }, m_dir.path()).status, 0);
    const Run sign = run(tool(), { "sign", "lint.json", "--key", "kovvazuv.key", "--serial", "1", "--expires", "2099-01-01" },
                         m_dir.path());
    QCOMPARE(sign.status, 1);
    QVERIFY(!QFileInfo::exists(file + ".minisig"));
}

void TestPublishing::lintFetchComparesWithTheServer()
{
    KOVTest::HttpServer server;
    QVERIFY(server.listen());
    const QString source = m_dir.path() + "/fetch-src/A";
    QVERIFY(KOVTest::writeFile(source + "/a.xpl", "plugin"));
    QVERIFY(KOVTest::make7z(m_dir.path() + "/fetch.7z", m_dir.path() + "/fetch-src"));
    server.addFile("/a.7z", KOVTest::readFile(m_dir.path() + "/fetch.7z"));
    QJsonObject version = goodVersion("1.0");
    version["link"] = server.url("/a.7z");
    version["install"] = QJsonObject { { "extract", "Resources/plugins" } };
    // Not in the archive, and outside a folder of the package's own.
    version["uninstall"] = QJsonObject { { "remove", QJsonArray { "Resources/plugins/A", "Resources/plugins/B" } } };
    QVERIFY(KOVTest::writeFile(m_dir.path() + "/fetch.json",
                               QJsonDocument(QJsonArray { QJsonObject { { "id", 1 }, { "versions", QJsonArray { version } } } }).toJson()));
    QCOMPARE(run(tool(), { "lint", "fetch.json" }, m_dir.path()).status, 0);
    const Run fetched = run(tool(), { "lint", "--fetch", "fetch.json" }, m_dir.path());
    QCOMPARE(fetched.status, 1);
    QVERIFY2(fetched.err.contains("size: the catalogue says 1000"), fetched.err.constData());
    QVERIFY(fetched.err.contains("sha256: the catalogue says aaaa"));
    QVERIFY(fetched.err.contains("uninstall.remove: Resources/plugins/B: neither in the archive"));
    QVERIFY(!fetched.err.contains("Resources/plugins/A:"));
}

void TestPublishing::scanReportsUnsafeArchives_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("unsafe"); // "" when safe
    QTest::newRow("safe") << "safe" << QString();
    QTest::newRow("a parent in a path") << "parent" << "../out/f: leaves the folder it is unpacked into";
    QTest::newRow("an absolute path") << "absolute" << "leaves the folder it is unpacked into";
    QTest::newRow("a link pointing out") << "link" << "evil: a link that points out of its folder";
}

void TestPublishing::scanReportsUnsafeArchives()
{
    QFETCH(QString, kind);
    QFETCH(QString, unsafe);
    const QString folder = m_dir.path() + "/scan-" + kind;
    QVERIFY(KOVTest::writeFile(folder + "/in/Plugin/p.xpl", "p"));
    QVERIFY(KOVTest::writeFile(folder + "/out/f", "f"));
    const QString archive = folder + "/a.7z";
    QProcess pack;
    pack.setWorkingDirectory(folder + "/in");
    QStringList arguments { "a", "-bd", archive, "." };
    if (kind == "parent")
        arguments = QStringList { "a", "-bd", "-spf", archive, "../out/f" };
    else if (kind == "absolute")
        arguments = QStringList { "a", "-bd", "-spf", archive, folder + "/out/f" };
    else if (kind == "link") {
        QVERIFY(QFile::link("../../../../../etc", folder + "/in/evil"));
        arguments = QStringList { "a", "-bd", "-snl", archive, "." };
    }
    pack.start("7z", arguments);
    QVERIFY(pack.waitForFinished(30000) && pack.exitCode() == 0);

    const Run scan = run(tool(), { "scan", archive }, m_dir.path());
    const QJsonArray stubs = QJsonDocument::fromJson(scan.out).array();
    QCOMPARE(stubs.size(), 1);
    const QJsonObject stub = stubs.first().toObject();
    QCOMPARE(stub.value("sha256").toString().size(), 64);
    QCOMPARE(qint64(stub.value("size").toDouble()), QFileInfo(archive).size());
    const QStringList reported = [&] {
        QStringList list;
        for (const QJsonValue &entry : stub.value("unsafe").toArray())
            list << entry.toString();
        return list;
    }();
    if (unsafe.isEmpty()) {
        QCOMPARE(scan.status, 0);
        QVERIFY(reported.isEmpty());
        QCOMPARE(stub.value("folders").toArray(), QJsonArray { "Plugin" });
        QCOMPARE(qint64(stub.value("unpacked_size").toDouble()), qint64(1));
        return;
    }
    QCOMPARE(scan.status, 1);
    QVERIFY2(reported.join('\n').contains(unsafe), qPrintable(reported.join('\n')));
    QVERIFY(scan.err.contains("unsafe entry: "));
}

void TestPublishing::keysAndSignatures()
{
    const QString folder = m_dir.path() + "/keys";
    QDir().mkpath(folder);
    QCOMPARE(run(tool(), { "keygen" }, folder).status, 0);
    // The secret key is its owner's alone; a second keygen does not overwrite it.
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther
                                            | QFileDevice::WriteOther;
    QCOMPARE(QFile(folder + "/kovvazuv.key").permissions() & others, QFileDevice::Permissions());
    const QByteArray secret = KOVTest::readFile(folder + "/kovvazuv.key");
    QCOMPARE(run(tool(), { "keygen" }, folder).status, 2);
    QCOMPARE(KOVTest::readFile(folder + "/kovvazuv.key"), secret);
    QVERIFY(KOV::Managers::Minisign::parsePublicKey(KOVTest::readFile(folder + "/kovvazuv.pub")).isValid());

    QJsonObject package { { "id", 1 }, { "versions", QJsonArray { goodVersion("1.0") } } };
    QVERIFY(KOVTest::writeFile(folder + "/packages.json", QJsonDocument(QJsonArray { package }).toJson()));
    const Run sign = run(tool(), { "sign", "packages.json", "--key", "kovvazuv.key", "--serial", "7", "--expires", "2099-03-01" }, folder);
    QVERIFY2(sign.status == 0, sign.err.constData());
    QVERIFY(KOVTest::readFile(folder + "/packages.json.minisig").contains("trusted comment: serial=7 expires=2099-03-01T00:00:00Z"));
    QCOMPARE(run(tool(), { "verify", "packages.json", "--key", "kovvazuv.pub" }, folder).status, 0);
    // Altered after signing, or an expiry already past: refused.
    QVERIFY(KOVTest::writeFile(folder + "/packages.json", KOVTest::readFile(folder + "/packages.json").replace("1.0", "1.1")));
    QCOMPARE(run(tool(), { "verify", "packages.json", "--key", "kovvazuv.pub" }, folder).status, 1);
    QCOMPARE(run(tool(), { "sign", "packages.json", "--key", "kovvazuv.key", "--serial", "8", "--expires", "2001-01-01" }, folder).status, 1);
    QCOMPARE(run(tool(), { "sign", "packages.json", "--key", "kovvazuv.key", "--serial", "x", "--expires", "2099-01-01" }, folder).status, 2);
}

void TestPublishing::minisignBothWays_data()
{
    QTest::addColumn<QString>("maker"); // who makes the key: "kov", "minisign", "minisign with a password"
    QTest::newRow("our key, minisign signs") << "kov";
    QTest::newRow("minisign's key, we sign") << "minisign";
    QTest::newRow("minisign's key with a password, we sign") << "password";
}

void TestPublishing::minisignBothWays()
{
    QFETCH(QString, maker);
    if (minisign().isEmpty())
        QSKIP("Debian's minisign is not installed (scripts/deps installs it)");
    const QString folder = m_dir.path() + "/both-" + maker;
    QDir().mkpath(folder);
    QJsonObject package { { "id", 1 }, { "versions", QJsonArray { goodVersion("1.0") } } };
    QVERIFY(KOVTest::writeFile(folder + "/packages.json", QJsonDocument(QJsonArray { package }).toJson()));
    const QByteArray comment = "serial=3 expires=2099-01-01T00:00:00Z";
    if (maker == "kov") {
        QCOMPARE(run(tool(), { "keygen", "--public", "k.pub", "--secret", "k.key" }, folder).status, 0);
        const Run signed_ = run(minisign(), { "-S", "-s", "k.key", "-m", "packages.json", "-t", QString::fromLatin1(comment) }, folder);
        QVERIFY2(signed_.status == 0, (signed_.out + signed_.err).constData());
        QCOMPARE(run(tool(), { "verify", "packages.json", "--key", "k.pub" }, folder).status, 0);
    } else {
        const QByteArray password = maker == "password" ? "a long password\n" : QByteArray();
        QStringList arguments { "-G", "-p", "k.pub", "-s", "k.key" };
        if (password.isEmpty())
            arguments << "-W";
        const Run made = run(minisign(), arguments, folder, password + password);
        QVERIFY2(made.status == 0, (made.out + made.err).constData());
        const Run signed_ = run(tool(), { "sign", "packages.json", "--key", "k.key", "--serial", "3", "--expires", "2099-01-01" }, folder, password);
        QVERIFY2(signed_.status == 0, signed_.err.constData());
        const Run checked = run(minisign(), { "-V", "-p", "k.pub", "-m", "packages.json" }, folder);
        QVERIFY2(checked.status == 0, (checked.out + checked.err).constData());
        QVERIFY(checked.out.contains("Trusted comment: " + comment));
        if (!password.isEmpty())
            QCOMPARE(run(tool(), { "sign", "packages.json", "--key", "k.key", "--serial", "3", "--expires", "2099-01-01" }, folder, "wrong\n").status, 2);
    }
    // The program trusts the same key file and accepts the catalogue.
    const auto keys = KOV::Controllers::CatalogueTrust::keysIn(folder);
    QCOMPARE(keys.size(), 1);
    const KOV::Controllers::CatalogueTrust trust(keys, folder + "/trust/");
    QCOMPARE(trust.check(KOVTest::readFile(folder + "/packages.json"), KOVTest::readFile(folder + "/packages.json.minisig"),
                         QDateTime::currentDateTimeUtc()).verdict,
             KOV::Controllers::CatalogueTrust::Accepted);
}

void TestPublishing::fromArchivesToAnInstalledPackage()
{
    if (!QFileInfo::exists(QStringLiteral("/usr/sbin/nginx")))
        QSKIP("nginx is not installed (Debian package nginx-light)");
    // The README's way: archives in a folder, scan, a catalogue written from the stub, lint, keys, sign.
    const QString site = m_dir.path() + "/site";
    QVERIFY(KOVTest::writeFile(m_dir.path() + "/plugin/GroundTraffic/ground.xpl", "ground 1.0"));
    QVERIFY(KOVTest::make7z(site + "/ground-1.0.7z", m_dir.path() + "/plugin"));
    const Run scan = run(tool(), { "scan", "ground-1.0.7z" }, site);
    QCOMPARE(scan.status, 0);
    const QJsonObject stub = QJsonDocument::fromJson(scan.out).array().first().toObject();
    QCOMPARE(stub.value("folders").toArray(), QJsonArray { "GroundTraffic" });
    // Served as the README says: its locations for the archives and the catalogue.
    KOVTest::NginxServer nginx(site, { false, {}, {}, "include \"" KOV_SOURCE_DIR "/docs/nginx-kovvazuv.conf\";" });
    QVERIFY2(nginx.isRunning(), nginx.errors().constData());
    const QJsonObject version { { "version", "1.0" }, { "link", nginx.url("/ground-1.0.7z") },
                                { "sha256", stub.value("sha256") }, { "size", stub.value("size") },
                                { "install", QJsonObject { { "extract", "Resources/plugins" } } },
                                { "uninstall", QJsonObject { { "remove", QJsonArray { "Resources/plugins/GroundTraffic" } } } } };
    const QJsonArray catalogue { QJsonObject { { "id", 2 }, { "type", "PLUGIN" },
                                               { "name", QJsonObject { { "en", "Ground Traffic" } } },
                                               { "versions", QJsonArray { version } } } };
    QVERIFY(KOVTest::writeFile(site + "/packages.json", QJsonDocument(catalogue).toJson()));
    const Run lint = run(tool(), { "lint", "--fetch", "packages.json" }, site);
    QVERIFY2(lint.status == 0, lint.err.constData());
    QCOMPARE(run(tool(), { "keygen", "--public", m_dir.path() + "/publisher.pub", "--secret", m_dir.path() + "/publisher.key" }, site).status, 0);
    QCOMPARE(run(tool(), { "sign", "packages.json", "--key", m_dir.path() + "/publisher.key", "--serial", "1", "--expires", "2099-01-01" }, site).status, 0);

    // The program, trusting the publisher's key, lists and installs it.
    KOVTest::UiFixture fixture;
    fixture.controller->setTrustedKeys(KOV::Controllers::CatalogueTrust::keysIn(m_dir.path()));
    fixture.controller->setCatalogueUrl(nginx.url("/packages.json"));
    QSignalSpy list(fixture.controller.data(), &KOV::Controllers::PackageController::list);
    fixture.controller->loadCatalogue();
    QVERIFY(list.wait(10000));
    QVERIFY(fixture.controller->isCatalogueVerified());
    const auto package = fixture.package(2);
    QVERIFY(package);
    KOV::Ui::PackageWidget tile(fixture.controller, package);
    tile.show();
    KOVTest::ModalAnswerer answerer;
    for (QPushButton *button : tile.findChildren<QPushButton *>()) {
        if (button->text() == QLatin1String("Download"))
            button->click();
    }
    QTRY_COMPARE_WITH_TIMEOUT(package->state(), Package::INSTALLED, 30000);
    // What the locations say reached the program: the archive as it is, the catalogue fetched fresh.
    QNetworkAccessManager network;
    QNetworkRequest archiveRequest(QUrl(nginx.url("/ground-1.0.7z")));
    archiveRequest.setRawHeader("Accept-Encoding", "gzip");
    QNetworkReply *head = network.head(archiveRequest);
    QSignalSpy headDone(head, &QNetworkReply::finished);
    QVERIFY(headDone.wait(5000));
    QVERIFY(!head->hasRawHeader("Content-Encoding"));
    QVERIFY(head->hasRawHeader("ETag"));
    QCOMPARE(head->rawHeader("Accept-Ranges"), QByteArray("bytes"));
    QNetworkReply *catalogueHead = network.head(QNetworkRequest(QUrl(nginx.url("/packages.json.minisig"))));
    QSignalSpy catalogueDone(catalogueHead, &QNetworkReply::finished);
    QVERIFY(catalogueDone.wait(5000));
    QCOMPARE(catalogueHead->rawHeader("Cache-Control"), QByteArray("no-cache"));
    QCOMPARE(KOVTest::readFile(fixture.xp("Resources/plugins/GroundTraffic/ground.xpl")), QByteArray("ground 1.0"));
    QVERIFY(answerer.seen().isEmpty());
}

QTEST_MAIN(TestPublishing)
#include "tst_publishing.moc"
