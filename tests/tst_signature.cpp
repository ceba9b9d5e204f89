// Only what the publisher signed is shown and installed: minisign signatures, checked here and by Debian's
// minisign both ways, and the refusals of altered, unknown, rolled-back and expired catalogues.

#include <QJsonArray>
#include <QLabel>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include "controllers/cataloguetrust.h"
#include "managers/minisign.h"
#include "ui/packagecontainer.h"
#include "ui/tilelist.h"
#include "uifixture.h"

using KOV::Controllers::CatalogueTrust;
using KOV::Controllers::PackageController;
using KOV::Managers::Minisign;
using KOV::Models::Package;

namespace {

struct KeyPair
{
    QByteArray seed;
    Minisign::PublicKey key;
};

KeyPair newKey()
{
    KeyPair pair;
    Minisign::generate(&pair.seed, &pair.key);
    return pair;
}

QByteArray comment(qint64 serial, const QDateTime &expires)
{
    return "serial=" + QByteArray::number(serial) + " expires=" + expires.toUTC().toString(Qt::ISODate).toLatin1();
}

QDateTime nextYear()
{
    return QDateTime::currentDateTimeUtc().addDays(365);
}

// Flips one bit of line `line` (0-based) of a signature file, at its middle.
QByteArray flipped(QByteArray text, int line)
{
    QList<QByteArray> lines = text.split('\n');
    QByteArray &target = lines[line];
    if (line == 1 || line == 3) {
        QByteArray raw = QByteArray::fromBase64(target);
        raw[raw.size() / 2 + 5] = char(raw.at(raw.size() / 2 + 5) ^ 1);
        target = raw.toBase64();
    } else {
        target[target.size() - 2] = char(target.at(target.size() - 2) ^ 1);
    }
    return lines.join('\n');
}

int run(const QString &program, const QStringList &arguments, const QString &folder, QByteArray *output = nullptr)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        return -1;
    if (output)
        *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

class TestSignature final : public QObject
{
    Q_OBJECT
private slots:
    void signatures_data();
    void signatures();
    void keyFiles_data();
    void keyFiles();
    void freshness_data();
    void freshness();
    void minisignSignsWeVerify_data();
    void minisignSignsWeVerify();
    void weSignMinisignVerifies_data();
    void weSignMinisignVerifies();
    void catalogueRefusals_data();
    void catalogueRefusals();
    void unverifiedIsSaidOnce();
    void signedVersionNeedsAChecksum();
    void keptAcrossAReset();

private:
    QString minisign() const { return QStandardPaths::findExecutable(QStringLiteral("minisign")); }
};

void TestSignature::signatures_data()
{
    QTest::addColumn<bool>("prehashed");
    QTest::addColumn<int>("alteration"); // -1 none; 0 the message; 1-3 a line of the signature file; 4 another key
    QTest::addColumn<int>("check");
    for (const bool prehashed : { true, false }) {
        const char *variant = prehashed ? "ED" : "Ed";
        QTest::addRow("%s, as signed", variant) << prehashed << -1 << int(Minisign::Check::Valid);
        QTest::addRow("%s, the message altered", variant) << prehashed << 0 << int(Minisign::Check::BadSignature);
        QTest::addRow("%s, the signature altered", variant) << prehashed << 1 << int(Minisign::Check::BadSignature);
        QTest::addRow("%s, the trusted comment altered", variant)
            << prehashed << 2 << int(Minisign::Check::BadTrustedComment);
        QTest::addRow("%s, the global signature altered", variant)
            << prehashed << 3 << int(Minisign::Check::BadTrustedComment);
        QTest::addRow("%s, another key", variant) << prehashed << 4 << int(Minisign::Check::UnknownKey);
    }
}

void TestSignature::signatures()
{
    QFETCH(bool, prehashed);
    QFETCH(int, alteration);
    QFETCH(int, check);
    const KeyPair pair = newKey();
    QVERIFY(pair.key.isValid());
    QByteArray message = "[{\"id\": 1}]\n";
    QByteArray file = Minisign::sign(message, pair.seed, pair.key.id, comment(4, nextYear()), prehashed);
    QVERIFY(!file.isEmpty());
    if (alteration == 0)
        message[3] = 'X';
    else if (alteration >= 1 && alteration <= 3)
        file = flipped(file, alteration);
    Minisign::Signature signature;
    QVERIFY(Minisign::parseSignature(file, &signature));
    QCOMPARE(signature.algorithm, QByteArray(prehashed ? "ED" : "Ed"));
    const QVector<Minisign::PublicKey> keys { alteration == 4 ? newKey().key : pair.key };
    QCOMPARE(int(Minisign::verify(message, signature, keys)), check);
    // A prehash computed elsewhere gives the same answer.
    if (prehashed)
        QCOMPARE(int(Minisign::verify(message, signature, keys, Minisign::blake2b512(message))), check);
}

void TestSignature::keyFiles_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    const KeyPair pair = newKey();
    QTest::newRow("a .pub file") << Minisign::publicKeyFile(pair.key) << true;
    QTest::newRow("the key line alone") << Minisign::publicKeyLine(pair.key) << true;
    QTest::newRow("with a carriage return") << Minisign::publicKeyLine(pair.key) + "\r\n" << true;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("not base64") << QByteArray("RW$$$$") << false;
    QTest::newRow("too short") << Minisign::publicKeyLine(pair.key).left(20) << false;
    QTest::newRow("a secret key") << QByteArray("untrusted comment: minisign encrypted secret key\nRWQAAEIy"
                                                "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA")
                                  << false;
    QTest::newRow("three lines") << Minisign::publicKeyFile(pair.key) + "x\n" << false;
}

void TestSignature::keyFiles()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    const Minisign::PublicKey key = Minisign::parsePublicKey(text);
    QCOMPARE(key.isValid(), valid);
    if (valid)
        QCOMPARE(Minisign::parsePublicKey(Minisign::publicKeyFile(key)), key);
}

void TestSignature::freshness_data()
{
    QTest::addColumn<QByteArray>("comment");
    QTest::addColumn<qint64>("serial"); // -1: not taken
    QTest::newRow("both") << QByteArray("serial=12 expires=2027-01-31T12:00:00Z") << qint64(12);
    QTest::newRow("other order, other words") << QByteArray("timestamp:1 expires=2027-01-31T12:00:00Z serial=3")
                                              << qint64(3);
    QTest::newRow("no serial") << QByteArray("expires=2027-01-31T12:00:00Z") << qint64(-1);
    QTest::newRow("no expiry") << QByteArray("serial=3") << qint64(-1);
    QTest::newRow("local time") << QByteArray("serial=3 expires=2027-01-31T12:00:00") << qint64(-1);
    QTest::newRow("negative serial") << QByteArray("serial=-3 expires=2027-01-31T12:00:00Z") << qint64(-1);
    QTest::newRow("no date") << QByteArray("serial=3 expires=soon") << qint64(-1);
}

void TestSignature::freshness()
{
    QFETCH(QByteArray, comment);
    QFETCH(qint64, serial);
    CatalogueTrust::Freshness found;
    QCOMPARE(CatalogueTrust::parseFreshness(comment, &found), serial >= 0);
    if (serial >= 0) {
        QCOMPARE(found.serial, serial);
        QCOMPARE(found.expires, QDateTime(QDate(2027, 1, 31), QTime(12, 0), Qt::UTC));
    }
}

void TestSignature::minisignSignsWeVerify_data()
{
    QTest::addColumn<bool>("legacy");
    QTest::newRow("prehashed, minisign's default") << false;
    QTest::newRow("legacy") << true;
}

void TestSignature::minisignSignsWeVerify()
{
    QFETCH(bool, legacy);
    if (minisign().isEmpty())
        QSKIP("Debian's minisign is not installed (scripts/deps installs it)");
    QTemporaryDir dir;
    QVERIFY(run(minisign(), { "-G", "-W", "-p", "k.pub", "-s", "k.key" }, dir.path()) == 0);
    const QByteArray catalogue = "[{\"id\": 7, \"versions\": []}]\n";
    QVERIFY(KOVTest::writeFile(dir.path() + "/packages.json", catalogue));
    QStringList arguments { "-S", "-s", "k.key", "-m", "packages.json", "-t", QString::fromLatin1(comment(9, nextYear())) };
    if (legacy)
        arguments << "-l";
    QByteArray output;
    QVERIFY2(run(minisign(), arguments, dir.path(), &output) == 0, output.constData());
    const QByteArray signature = KOVTest::readFile(dir.path() + "/packages.json.minisig");
    const QVector<Minisign::PublicKey> keys = CatalogueTrust::keysIn(dir.path());
    QCOMPARE(keys.size(), 1);

    const CatalogueTrust trust(keys, dir.path() + "/trust/");
    const auto now = QDateTime::currentDateTimeUtc();
    QCOMPARE(trust.check(catalogue, signature, now).verdict, CatalogueTrust::Accepted);
    QCOMPARE(trust.check(catalogue, signature, now).freshness.serial, qint64(9));
    // One flipped byte anywhere is refused; so is another key.
    QByteArray altered = catalogue;
    altered[2] = 'x';
    QCOMPARE(trust.check(altered, signature, now).verdict, CatalogueTrust::Invalid);
    for (int line = 1; line <= 3; ++line)
        QCOMPARE(trust.check(catalogue, flipped(signature, line), now).verdict, CatalogueTrust::Invalid);
    QCOMPARE(CatalogueTrust({ newKey().key }, dir.path() + "/trust/").check(catalogue, signature, now).verdict,
             CatalogueTrust::Invalid);
    QCOMPARE(trust.check(catalogue, QByteArray(), now).verdict, CatalogueTrust::Unsigned);
    // After a higher serial was accepted, this one is a rollback; a year on, it has expired.
    QVERIFY(trust.accept(catalogue, signature, 10));
    QCOMPARE(trust.check(catalogue, signature, now).verdict, CatalogueTrust::Rollback);
    QVERIFY(trust.accept(catalogue, signature, 9) && trust.highestSerial() == 10);
    const CatalogueTrust fresh(keys, dir.path() + "/other/");
    QCOMPARE(fresh.check(catalogue, signature, now.addDays(400)).verdict, CatalogueTrust::Expired);
}

void TestSignature::weSignMinisignVerifies_data()
{
    QTest::addColumn<bool>("prehashed");
    QTest::newRow("prehashed") << true;
    QTest::newRow("legacy") << false;
}

void TestSignature::weSignMinisignVerifies()
{
    QFETCH(bool, prehashed);
    if (minisign().isEmpty())
        QSKIP("Debian's minisign is not installed (scripts/deps installs it)");
    QTemporaryDir dir;
    const KeyPair pair = newKey();
    const QByteArray catalogue = "[]\n";
    const QByteArray trusted = comment(1, nextYear());
    QVERIFY(KOVTest::writeFile(dir.path() + "/packages.json", catalogue));
    QVERIFY(KOVTest::writeFile(dir.path() + "/packages.json.minisig",
                               Minisign::sign(catalogue, pair.seed, pair.key.id, trusted, prehashed)));
    QVERIFY(KOVTest::writeFile(dir.path() + "/k.pub", Minisign::publicKeyFile(pair.key)));
    QByteArray output;
    QCOMPARE(run(minisign(), { "-V", "-p", "k.pub", "-m", "packages.json" }, dir.path(), &output), 0);
    QVERIFY2(output.contains("Trusted comment: " + trusted), output.constData());
    // And the key line alone, as a distributor passes it.
    QCOMPARE(run(minisign(), { "-V", "-P", QString::fromLatin1(Minisign::publicKeyLine(pair.key)), "-m", "packages.json" },
                 dir.path()),
             0);
    QVERIFY(KOVTest::writeFile(dir.path() + "/packages.json", "[1]\n"));
    QVERIFY(run(minisign(), { "-V", "-p", "k.pub", "-m", "packages.json" }, dir.path()) != 0);
}

void TestSignature::catalogueRefusals_data()
{
    // A good catalogue (serial 5) is accepted first; then the server has this one.
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("notice");
    QTest::addColumn<QString>("logged");
    const QString invalid = QStringLiteral("The catalogue's signature is not valid.");
    QTest::newRow("newer and signed") << "newer" << QString() << QString();
    QTest::newRow("the same again") << "same" << QString() << QString();
    QTest::newRow("unsigned") << "unsigned" << invalid << "the catalogue is not signed";
    QTest::newRow("altered") << "altered" << invalid << "the signature does not match the catalogue";
    QTest::newRow("trusted comment altered") << "comment" << invalid << "the trusted comment does not match";
    QTest::newRow("unknown key") << "unknown" << invalid << "which is not trusted";
    QTest::newRow("no serial") << "noserial" << invalid << "has no serial and expiry";
    QTest::newRow("rollback") << "rollback" << "The catalogue is older than the one already installed from."
                              << "serial 4 is lower than 5";
    QTest::newRow("expired") << "expired" << "The catalogue expired on 2026-01-02 03:04 UTC." << "it expired on";
}

void TestSignature::catalogueRefusals()
{
    QFETCH(QString, kind);
    QFETCH(QString, notice);
    QFETCH(QString, logged);
    KOVTest::UiFixture fixture;
    const KeyPair pair = newKey();
    fixture.controller->setTrustedKeys({ pair.key });
    fixture.controller->setTrustFolder(fixture.home.path() + "/trust/");
    const QString served = fixture.home.path() + "/served/packages.json";
    const auto publish = [&](int id, const QByteArray &trusted, const KeyPair &signer) {
        const QByteArray json = QJsonDocument(QJsonArray { QJsonObject {
            { "id", id },
            { "name", QJsonObject { { "en", QStringLiteral("Package %1").arg(id) } } },
            { "versions", QJsonArray { QJsonObject { { "version", "1.0" }, { "link", fixture.server.url("/a.7z") },
                                                     { "sha256", QString(64, QLatin1Char('a')) } } } } } })
                                    .toJson();
        QVERIFY(KOVTest::writeFile(served, json));
        QVERIFY(KOVTest::writeFile(served + ".minisig", Minisign::sign(json, signer.seed, signer.key.id, trusted)));
    };
    const auto load = [&]() -> QString {
        QSignalSpy list(fixture.controller.data(), &PackageController::list);
        QSignalSpy error(fixture.controller.data(), &PackageController::error);
        QSignalSpy shown(fixture.controller.data(), &PackageController::notice);
        fixture.controller->loadCatalogue();
        QElapsedTimer timer;
        timer.start();
        while (list.count() + error.count() == 0 && timer.elapsed() < 10000)
            QTest::qWait(5);
        return shown.isEmpty() ? QString("(none)") : shown.last().first().toString();
    };
    publish(1, comment(5, nextYear()), pair);
    QCOMPARE(load(), QString());
    QVERIFY(fixture.controller->isCatalogueVerified());

    if (kind == "newer") {
        publish(2, comment(6, nextYear()), pair);
    } else if (kind == "same") {
        publish(2, comment(5, nextYear()), pair);
    } else if (kind == "unsigned") {
        publish(2, comment(6, nextYear()), pair);
        QFile::remove(served + ".minisig");
    } else if (kind == "altered") {
        publish(2, comment(6, nextYear()), pair);
        QByteArray json = KOVTest::readFile(served);
        json.replace("Package 2", "Package 3");
        QVERIFY(KOVTest::writeFile(served, json));
    } else if (kind == "comment") {
        publish(2, comment(6, nextYear()), pair);
        QVERIFY(KOVTest::writeFile(served + ".minisig", KOVTest::readFile(served + ".minisig").replace("serial=6", "serial=9")));
    } else if (kind == "unknown") {
        publish(2, comment(6, nextYear()), newKey());
    } else if (kind == "noserial") {
        publish(2, "expires=2030-01-01T00:00:00Z", pair);
    } else if (kind == "rollback") {
        publish(2, comment(4, nextYear()), pair);
    } else if (kind == "expired") {
        publish(2, comment(7, QDateTime(QDate(2026, 1, 2), QTime(3, 4), Qt::UTC)), pair);
    }
    KOVTest::LogCapture log;
    // The page loads the catalogue as it is made; a second load beside it changes nothing.
    KOV::Ui::PackageContainer page(fixture.controller);
    page.show();
    QCOMPARE(load(), notice);
    // On screen: the list, and above it the message.
    const auto *label = page.findChild<QLabel *>("CatalogueNotice");
    QCOMPARE(label->isVisible(), !notice.isEmpty());
    QCOMPARE(label->text(), notice);
    QVERIFY(page.findChild<KOV::Ui::TileList *>()->isVisible());
    // Accepted: the new list. Refused: the last accepted one, verified, and log.txt says which check failed.
    QVERIFY(fixture.controller->isCatalogueVerified());
    QCOMPARE(fixture.controller->packages().size(), 1);
    QCOMPARE(fixture.controller->packages().first()->id(), notice.isEmpty() ? 2 : 1);
    if (!logged.isEmpty()) {
        QVERIFY2(!log.lines().filter("Catalogue refused :").filter(logged).isEmpty(), qPrintable(log.lines().join('\n')));
        // A restart with no copy kept shows the message in place of the list.
        QVERIFY(QFile::remove(fixture.home.path() + "/trust/packages.json"));
        QSignalSpy error(fixture.controller.data(), &PackageController::error);
        fixture.controller->loadCatalogue();
        QVERIFY(error.wait(10000));
        QCOMPARE(error.first().first().toString(), notice);
    }
}

void TestSignature::unverifiedIsSaidOnce()
{
    // No key trusted at all: read as ever, and log.txt says it once (per start; this process may have said
    // it already).
    KOVTest::UiFixture fixture;
    fixture.controller->setTrustedKeys({});
    fixture.addPackage(1, "One", { "1.0" });
    KOVTest::LogCapture log;
    fixture.publish();
    fixture.publish();
    QCOMPARE(fixture.controller->packages().size(), 1);
    QVERIFY(!fixture.controller->isCatalogueVerified());
    QVERIFY(log.count("Catalogue not verified : ") <= 1);
}

void TestSignature::signedVersionNeedsAChecksum()
{
    KOVTest::UiFixture fixture;
    const KeyPair pair = newKey();
    fixture.controller->setTrustedKeys({ pair.key });
    fixture.controller->setTrustFolder(fixture.home.path() + "/trust/");
    fixture.addPackage(1, "One", { "1.0" });
    const QByteArray json = QJsonDocument(fixture.catalogue).toJson();
    QVERIFY(KOVTest::writeFile(fixture.home.path() + "/packages.json", json));
    QVERIFY(KOVTest::writeFile(fixture.home.path() + "/packages.json.minisig",
                               Minisign::sign(json, pair.seed, pair.key.id, comment(1, nextYear()))));
    fixture.controller->parseCatalogue(fixture.home.path() + "/packages.json");
    QVERIFY(fixture.controller->isCatalogueVerified());
    const auto package = fixture.package(1);
    QString version;
    fixture.controller->installPackage(package, version);
    QCOMPARE(package->state(), Package::DOWNLOAD_ERROR);
    QCOMPARE(package->failureReason(), QStringLiteral("Version 1.0: This archive has no checksum in the catalogue."));
    QVERIFY(fixture.server.requests().isEmpty());
}

void TestSignature::keptAcrossAReset()
{
    KOVTest::UiFixture fixture;
    const KeyPair pair = newKey();
    fixture.controller->setTrustedKeys({ pair.key });
    const QString trust = CatalogueTrust::defaultFolder();
    QVERIFY(trust.startsWith(fixture.home.dataPath()));
    const QByteArray json = "[]\n";
    QVERIFY(KOVTest::writeFile(fixture.home.path() + "/packages.json", json));
    QVERIFY(KOVTest::writeFile(fixture.home.path() + "/packages.json.minisig",
                               Minisign::sign(json, pair.seed, pair.key.id, comment(3, nextYear()))));
    fixture.controller->parseCatalogue(fixture.home.path() + "/packages.json");
    QVERIFY(QFileInfo::exists(trust + "packages.json.minisig"));
    // Reset and a language change empty the records, not what protects against a rollback.
    fixture.controller->resetDatabase();
    QCOMPARE(KOVTest::readFile(trust + "serial"), QByteArray("3\n"));
    QCOMPARE(KOVTest::readFile(trust + "packages.json"), json);
}

QTEST_MAIN(TestSignature)
#include "tst_signature.moc"
