// kov-catalogue: the publisher's tool. Builds the version stubs of archives, checks a catalogue with the
// program's own rules, and makes and checks the keys and signatures the program trusts.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

#include "catalogue/archivescan.h"
#include "catalogue/cataloguelint.h"
#include "catalogue/secretkey.h"
#include "controllers/cataloguereader.h"
#include "controllers/cataloguetrust.h"
#include "controllers/installpaths.h"
#include "controllers/packagepaths.h"
#include "managers/minisign.h"
#include "managers/sha256.h"
#include "models/download.h"

using namespace KOV;

namespace {

enum Status { Ok = 0, Problems = 1, CannotRun = 2 };

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

const char *usage = "Usage: kov-catalogue COMMAND [options]\n"
                    "\n"
                    "  scan ARCHIVE...            prints a version stub of each 7z archive: sha256, size,\n"
                    "                             unpacked size, top-level folders, unsafe entries\n"
                    "  lint packages.json         checks a catalogue as the program reads and installs it\n"
                    "  keygen                     makes a key pair (kovvazuv.pub, kovvazuv.key)\n"
                    "  sign packages.json         signs a catalogue that passes lint\n"
                    "  verify packages.json       checks a catalogue's signature\n"
                    "\n"
                    "kov-catalogue COMMAND --help tells more. Exit status: 0 ok, 1 problems found, 2 could not run.\n";

bool parse(QCommandLineParser &parser, const QStringList &arguments, const QString &description,
           const QString &positional)
{
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    if (!positional.isEmpty())
        parser.addPositionalArgument(positional.section(' ', 0, 0), positional.section(' ', 1));
    if (!parser.parse(arguments)) {
        err() << parser.errorText() << Qt::endl;
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        // Qt names the program by its path; the command is part of its name here.
        QString help = parser.helpText();
        help.replace(0, help.indexOf(QLatin1Char(' '), 7), QStringLiteral("Usage: ") + arguments.first());
        out() << help;
        out().flush();
        ::exit(Ok);
    }
    return true;
}

bool readWhole(const QString &path, QByteArray *content, qint64 limit = Controllers::CatalogueReader::maximumDocumentSize)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > limit) {
        err() << path << ": " << (file.isOpen() ? QStringLiteral("too large") : file.errorString()) << Qt::endl;
        return false;
    }
    *content = file.readAll();
    return true;
}

int scan(const QStringList &arguments)
{
    QCommandLineParser parser;
    if (!parse(parser, arguments,
               QStringLiteral("Prints a JSON version stub for each 7z archive, read as the installer reads it."),
               QStringLiteral("archives 7z archives")))
        return CannotRun;
    if (parser.positionalArguments().isEmpty()) {
        err() << "scan: no archive given" << Qt::endl;
        return CannotRun;
    }
    QJsonArray stubs;
    int status = Ok;
    for (const QString &path : parser.positionalArguments()) {
        const Publishing::ArchiveScan scanned = Publishing::ArchiveScan::scan(path);
        if (!scanned.readable) {
            err() << path << ": not an archive 7-Zip can read" << Qt::endl;
            status = CannotRun;
            continue;
        }
        for (const QString &unsafe : scanned.unsafe) {
            err() << path << ": unsafe entry: " << unsafe << Qt::endl;
            status = qMax(status, int(Problems));
        }
        QJsonObject stub = scanned.toJson();
        stub.insert(QStringLiteral("archive"), QFileInfo(path).fileName());
        stubs.append(stub);
    }
    out() << QJsonDocument(stubs).toJson();
    return status;
}

// Fetches every version's link and compares what arrives with what the catalogue says of it.
int fetchAll(const QString &file, const QByteArray &document, const QHash<QString, int> &lines)
{
    QVector<QSharedPointer<Models::Package>> packages;
    QString error;
    Controllers::CatalogueReader::read(document, QStringLiteral("en"), &packages, &error);
    QNetworkAccessManager network;
    QTemporaryDir work;
    int status = Ok;
    for (const QSharedPointer<Models::Package> &package : packages) {
        for (const QSharedPointer<Models::PackageVersion> &version : package->versions()) {
            const QString where = QStringLiteral("%1:%2: package %3 version %4")
                                      .arg(file)
                                      .arg(lines.value(QStringLiteral("%1/%2").arg(package->id()).arg(version->version)))
                                      .arg(package->id())
                                      .arg(version->version);
            const QString archive = work.filePath(QStringLiteral("archive.7z"));
            QFile target(archive);
            target.open(QIODevice::WriteOnly | QIODevice::Truncate);
            Managers::Sha256 hash;
            QNetworkRequest request(QUrl(version->link, QUrl::TolerantMode));
            request.setRawHeader("Accept-Encoding", "identity");
            request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
            QNetworkReply *reply = network.get(request);
            QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
                const QByteArray chunk = reply->readAll();
                hash.addData(chunk);
                target.write(chunk);
            });
            QEventLoop loop;
            QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
            loop.exec();
            const QByteArray rest = reply->readAll();
            hash.addData(rest);
            target.write(rest);
            target.close();
            reply->deleteLater();
            if (reply->error() != QNetworkReply::NoError) {
                err() << where << ": cannot fetch " << version->link << ": " << reply->errorString() << Qt::endl;
                status = Problems;
                continue;
            }
            const qint64 size = QFileInfo(archive).size();
            const QString sum = QString::fromLatin1(hash.hexResult());
            if (version->size > 0 && size != version->size) {
                err() << where << ": size: the catalogue says " << version->size << ", the server sent " << size << Qt::endl;
                status = Problems;
            }
            if (!version->sha256.isEmpty() && sum != version->sha256) {
                err() << where << ": sha256: the catalogue says " << version->sha256 << ", the archive's is " << sum << Qt::endl;
                status = Problems;
            }
            const Publishing::ArchiveScan scanned = Publishing::ArchiveScan::scan(archive);
            for (const QString &unsafe : scanned.unsafe) {
                err() << where << ": unsafe entry: " << unsafe << Qt::endl;
                status = Problems;
            }
            // With the archive in hand, every remove entry can be checked as the installer checks it.
            QStringList listed;
            for (const QString &path : scanned.paths)
                listed << Controllers::entryKey(version->install->extract.isEmpty() ? path : version->install->extract + '/' + path);
            const QSet<QString> own = Controllers::PackagePaths::withFolders(listed);
            for (const QString &entry : version->uninstall->remove) {
                const QString refusal = Controllers::PackagePaths::refuseRemove(entry, version->install->extract, own, {});
                if (!refusal.isEmpty()) {
                    err() << where << ": uninstall.remove: " << entry << ": neither in the archive nor inside a folder of the package's own" << Qt::endl;
                    status = Problems;
                }
            }
        }
    }
    return status;
}

int lint(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOption({ QStringLiteral("fetch"), QStringLiteral("Also download every archive and compare its size, sha256 and contents with the catalogue.") });
    if (!parse(parser, arguments, QStringLiteral("Checks a catalogue with the rules the program applies when it reads and installs it."),
               QStringLiteral("catalogue packages.json")))
        return CannotRun;
    if (parser.positionalArguments().size() != 1) {
        err() << "lint: give one catalogue" << Qt::endl;
        return CannotRun;
    }
    const QString file = parser.positionalArguments().first();
    QByteArray document;
    if (!readWhole(file, &document))
        return CannotRun;
    QHash<QString, int> lines;
    const QVector<Publishing::CatalogueLint::Problem> problems = Publishing::CatalogueLint::check(document, &lines);
    for (const auto &problem : problems)
        err() << Publishing::CatalogueLint::format(file, problem) << Qt::endl;
    int status = problems.isEmpty() ? Ok : Problems;
    if (parser.isSet(QStringLiteral("fetch")))
        status = qMax(status, fetchAll(file, document, lines));
    return status;
}

bool writeNew(const QString &path, const QByteArray &content, bool secret, bool force)
{
    if (QFileInfo::exists(path) && !force) {
        err() << path << ": exists already (--force replaces it)" << Qt::endl;
        return false;
    }
    QFile file(path);
    // The secret key is its owner's alone before a byte of it is written.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || (secret && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        || file.write(content) != content.size() || !file.flush()) {
        err() << path << ": " << file.errorString() << Qt::endl;
        return false;
    }
    return true;
}

int keygen(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOption({ QStringLiteral("public"), QStringLiteral("The public key file (kovvazuv.pub)."), QStringLiteral("file"), QStringLiteral("kovvazuv.pub") });
    parser.addOption({ QStringLiteral("secret"), QStringLiteral("The secret key file (kovvazuv.key), readable by its owner only."), QStringLiteral("file"), QStringLiteral("kovvazuv.key") });
    parser.addOption({ QStringLiteral("force"), QStringLiteral("Replace key files that exist.") });
    if (!parse(parser, arguments, QStringLiteral("Makes a key pair in minisign's formats, the secret key without a password."), QString()))
        return CannotRun;
    Publishing::SecretKey key;
    if (!Publishing::SecretKey::generate(&key)) {
        err() << "keygen: no randomness" << Qt::endl;
        return CannotRun;
    }
    const bool force = parser.isSet(QStringLiteral("force"));
    if (!writeNew(parser.value(QStringLiteral("secret")), Publishing::SecretKey::write(key), true, force)
        || !writeNew(parser.value(QStringLiteral("public")), Managers::Minisign::publicKeyFile(key.publicKey()), false, force))
        return CannotRun;
    out() << "public key " << Managers::Minisign::keyIdText(key.id) << ": " << Managers::Minisign::publicKeyLine(key.publicKey()) << Qt::endl;
    return Ok;
}

QDateTime parseExpiry(const QString &text)
{
    // A date alone is its midnight, UTC; a date and time without a zone is UTC too.
    QDateTime expiry = QDateTime::fromString(text, Qt::ISODate);
    if (!expiry.isValid()) {
        const QDate date = QDate::fromString(text, Qt::ISODate);
        if (date.isValid())
            expiry = QDateTime(date, QTime(0, 0), Qt::UTC);
    } else if (expiry.timeSpec() == Qt::LocalTime) {
        expiry.setTimeSpec(Qt::UTC);
    }
    return expiry.toUTC();
}

int sign(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOption({ QStringLiteral("key"), QStringLiteral("The secret key file; an encrypted one reads its password from standard input."), QStringLiteral("file") });
    parser.addOption({ QStringLiteral("serial"), QStringLiteral("The catalogue's serial: higher than any published before."), QStringLiteral("number") });
    parser.addOption({ QStringLiteral("expires"), QStringLiteral("When the catalogue expires, UTC: a date (2027-03-01) or a date and time (2027-03-01T12:00:00Z)."), QStringLiteral("date") });
    parser.addOption({ QStringLiteral("legacy"), QStringLiteral("Sign the file itself, not its BLAKE2b-512 (minisign -l).") });
    if (!parse(parser, arguments, QStringLiteral("Signs a catalogue that passes lint: writes packages.json.minisig beside it with the trusted comment \"serial=N expires=...\"."),
               QStringLiteral("catalogue packages.json")))
        return CannotRun;
    bool numeric = false;
    const qint64 serial = parser.value(QStringLiteral("serial")).toLongLong(&numeric);
    const QDateTime expires = parseExpiry(parser.value(QStringLiteral("expires")));
    if (parser.positionalArguments().size() != 1 || !parser.isSet(QStringLiteral("key")) || !numeric || serial < 0 || !expires.isValid()) {
        err() << "sign: give one catalogue, --key, --serial (a whole number) and --expires (a date)" << Qt::endl;
        return CannotRun;
    }
    if (expires <= QDateTime::currentDateTimeUtc()) {
        err() << "sign: " << expires.toString(Qt::ISODate) << " has passed: the program would refuse the catalogue" << Qt::endl;
        return Problems;
    }
    const QString file = parser.positionalArguments().first();
    QByteArray document;
    QByteArray keyText;
    if (!readWhole(file, &document) || !readWhole(parser.value(QStringLiteral("key")), &keyText, 4096))
        return CannotRun;
    const auto problems = Publishing::CatalogueLint::check(document);
    for (const auto &problem : problems)
        err() << Publishing::CatalogueLint::format(file, problem) << Qt::endl;
    if (!problems.isEmpty()) {
        err() << file << ": not signed: lint found " << problems.size() << " problem(s)" << Qt::endl;
        return Problems;
    }
    QByteArray password;
    if (Publishing::SecretKey::isEncrypted(keyText)) {
        QFile input;
        input.open(stdin, QIODevice::ReadOnly);
        password = input.readLine().trimmed();
    }
    Publishing::SecretKey key;
    QString error;
    if (!Publishing::SecretKey::read(keyText, password, &key, &error)) {
        err() << parser.value(QStringLiteral("key")) << ": " << error << Qt::endl;
        return CannotRun;
    }
    const QByteArray comment = "serial=" + QByteArray::number(serial) + " expires=" + expires.toString(Qt::ISODate).toLatin1();
    const QByteArray signature = Managers::Minisign::sign(document, key.seed, key.id, comment, !parser.isSet(QStringLiteral("legacy")));
    if (signature.isEmpty() || !writeNew(file + QStringLiteral(".minisig"), signature, false, true))
        return CannotRun;
    out() << "signed " << file << " with key " << Managers::Minisign::keyIdText(key.id) << ": " << comment << Qt::endl;
    return Ok;
}

int verify(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOption({ QStringLiteral("key"), QStringLiteral("The public key file (.pub)."), QStringLiteral("file") });
    parser.addOption({ QStringLiteral("signature"), QStringLiteral("The signature file (packages.json.minisig beside the catalogue)."), QStringLiteral("file") });
    if (!parse(parser, arguments, QStringLiteral("Checks a catalogue's signature, trusted comment and expiry as the program does."),
               QStringLiteral("catalogue packages.json")))
        return CannotRun;
    if (parser.positionalArguments().size() != 1 || !parser.isSet(QStringLiteral("key"))) {
        err() << "verify: give one catalogue and --key" << Qt::endl;
        return CannotRun;
    }
    const QString file = parser.positionalArguments().first();
    QByteArray document;
    QByteArray keyText;
    QByteArray signature;
    const QString signatureFile = parser.isSet(QStringLiteral("signature")) ? parser.value(QStringLiteral("signature")) : file + QStringLiteral(".minisig");
    if (!readWhole(file, &document) || !readWhole(parser.value(QStringLiteral("key")), &keyText, 4096)
        || !readWhole(signatureFile, &signature, 64 * 1024))
        return CannotRun;
    const Managers::Minisign::PublicKey key = Managers::Minisign::parsePublicKey(keyText);
    if (!key.isValid()) {
        err() << parser.value(QStringLiteral("key")) << ": not a minisign public key" << Qt::endl;
        return CannotRun;
    }
    // No serial kept here: a rollback is the program's to see.
    const Controllers::CatalogueTrust trust({ key }, QDir::temp().filePath(QStringLiteral("kov-catalogue-no-state/")));
    const auto result = trust.check(document, signature, QDateTime::currentDateTimeUtc());
    if (result.verdict != Controllers::CatalogueTrust::Accepted) {
        err() << file << ": refused: " << result.why << Qt::endl;
        return Problems;
    }
    out() << file << ": signed by " << Managers::Minisign::keyIdText(key.id) << ", serial " << result.freshness.serial
          << ", expires " << result.freshness.expires.toString(Qt::ISODate) << Qt::endl;
    return Ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kov-catalogue"));
    // The program's own log lines are not the tool's output.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QStringList arguments = QCoreApplication::arguments();
    const QString command = arguments.value(1);
    if (command.isEmpty() || command == QLatin1String("--help") || command == QLatin1String("-h")) {
        out() << usage;
        return command.isEmpty() ? CannotRun : Ok;
    }
    arguments.removeAt(1);
    arguments[0] = QStringLiteral("kov-catalogue ") + command;
    if (command == QLatin1String("scan"))
        return scan(arguments);
    if (command == QLatin1String("lint"))
        return lint(arguments);
    if (command == QLatin1String("keygen"))
        return keygen(arguments);
    if (command == QLatin1String("sign"))
        return sign(arguments);
    if (command == QLatin1String("verify"))
        return verify(arguments);
    err() << "kov-catalogue: no command " << command << "\n\n" << usage;
    return CannotRun;
}
