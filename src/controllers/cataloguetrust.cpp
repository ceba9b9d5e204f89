#include "controllers/cataloguetrust.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSaveFile>

#include "app/environment.h"
#include "app/logging.h"
#include "cataloguekeys.h"

namespace KOV::Controllers {

using Managers::Minisign;

namespace {

// Two reads of the catalogue may run at once; the kept copy and its serial change together.
QMutex &stateLock()
{
    static QMutex lock;
    return lock;
}

bool writeWhole(const QString &path, const QByteArray &content)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit();
}

} // namespace

QString CatalogueTrust::Result::message() const
{
    switch (verdict) {
    case Accepted:
        return QString();
    case Rollback:
        return tr("The catalogue is older than the one already installed from.");
    case Expired:
        return tr("The catalogue expired on %1.")
            .arg(freshness.expires.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'")));
    case Unsigned:
    case Invalid:
        break;
    }
    return tr("The catalogue's signature is not valid.");
}

QVector<CatalogueTrust::Key> CatalogueTrust::keysIn(const QString &folder)
{
    QVector<Key> keys;
    const QDir dir(folder);
    for (const QString &name : dir.entryList({ QStringLiteral("*.pub") }, QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (file.size() > 4096 || !file.open(QIODevice::ReadOnly))
            continue;
        const Key key = Minisign::parsePublicKey(file.readAll());
        if (key.isValid())
            keys << key;
        else
            qCWarning(lcCatalogue) << "Not a public key : " << file.fileName();
    }
    return keys;
}

QVector<CatalogueTrust::Key> CatalogueTrust::keysFromText(const QString &text)
{
    QVector<Key> keys;
    for (const QString &line : text.split(QRegularExpression(QStringLiteral("[\\s,;]+")), Qt::SkipEmptyParts)) {
        const Key key = Minisign::parsePublicKey(line.toLatin1());
        if (key.isValid())
            keys << key;
    }
    return keys;
}

QVector<CatalogueTrust::Key> CatalogueTrust::trustedKeys()
{
    QVector<Key> keys = keysFromText(QStringLiteral(KOV_CATALOGUE_KEYS));
    keys += keysIn(applicationDir() + QStringLiteral("keys"));
    // Installed: the program in bin/, its keys in share/kovvazuv/keys/.
    keys += keysIn(applicationDir() + QStringLiteral("../share/kovvazuv/keys"));
    return keys;
}

QString CatalogueTrust::defaultFolder()
{
    return dataDir() + QStringLiteral("trust") + QDir::separator();
}

bool CatalogueTrust::parseFreshness(const QByteArray &comment, Freshness *freshness)
{
    Freshness found;
    for (const QByteArray &word : comment.simplified().split(' ')) {
        if (word.startsWith("serial=")) {
            bool ok = false;
            found.serial = word.mid(7).toLongLong(&ok);
            if (!ok || found.serial < 0)
                return false;
        } else if (word.startsWith("expires=")) {
            found.expires = QDateTime::fromString(QString::fromLatin1(word.mid(8)), Qt::ISODate);
            if (!found.expires.isValid() || !word.endsWith('Z'))
                return false;
        }
    }
    if (found.serial < 0 || !found.expires.isValid())
        return false;
    *freshness = found;
    return true;
}

CatalogueTrust::CatalogueTrust(QVector<Key> keys, QString folder)
    : m_keys(std::move(keys))
    , m_folder(std::move(folder))
{
}

CatalogueTrust::Result CatalogueTrust::check(const QByteArray &document, const QByteArray &signature,
                                             const QDateTime &now, const QByteArray &prehash) const
{
    Result result;
    if (signature.isEmpty()) {
        result.verdict = Unsigned;
        result.why = QStringLiteral("the catalogue is not signed");
        return result;
    }
    result.verdict = Invalid;
    Minisign::Signature parsed;
    if (!Minisign::parseSignature(signature, &parsed)) {
        result.why = QStringLiteral("the signature file is not one");
        return result;
    }
    switch (Minisign::verify(document, parsed, m_keys, prehash)) {
    case Minisign::Check::Valid:
        break;
    case Minisign::Check::UnknownKey:
        result.why = QStringLiteral("signed by the key %1, which is not trusted")
                         .arg(QString::fromLatin1(Minisign::keyIdText(parsed.keyId)));
        return result;
    case Minisign::Check::BadTrustedComment:
        result.why = QStringLiteral("the trusted comment does not match its signature");
        return result;
    case Minisign::Check::Malformed:
    case Minisign::Check::BadSignature:
        result.why = QStringLiteral("the signature does not match the catalogue");
        return result;
    }
    if (!parseFreshness(parsed.trustedComment, &result.freshness)) {
        result.why = QStringLiteral("the trusted comment has no serial and expiry: %1")
                         .arg(QString::fromUtf8(parsed.trustedComment));
        return result;
    }
    const qint64 highest = highestSerial();
    if (result.freshness.serial < highest) {
        result.verdict = Rollback;
        result.why = QStringLiteral("serial %1 is lower than %2, accepted before")
                         .arg(result.freshness.serial)
                         .arg(highest);
        return result;
    }
    if (result.freshness.expires <= now) {
        result.verdict = Expired;
        result.why = QStringLiteral("it expired on %1").arg(result.freshness.expires.toString(Qt::ISODate));
        return result;
    }
    result.verdict = Accepted;
    return result;
}

bool CatalogueTrust::accept(const QByteArray &document, const QByteArray &signature, qint64 serial) const
{
    QMutexLocker locker(&stateLock());
    if (!ensureDir(m_folder, true))
        return false;
    QFile current(m_folder + QStringLiteral("serial"));
    const qint64 highest = current.open(QIODevice::ReadOnly) ? current.readAll().trimmed().toLongLong() : -1;
    current.close();
    if (highest > serial)
        return true;
    // The same catalogue again, as at every start: its signature says so, and nothing is written.
    QFile kept(acceptedSignature());
    if (highest == serial && kept.open(QIODevice::ReadOnly) && kept.readAll() == signature)
        return true;
    // The copy first: a serial without its catalogue would refuse everything older and show nothing.
    return writeWhole(acceptedCatalogue(), document) && writeWhole(acceptedSignature(), signature)
           && writeWhole(m_folder + QStringLiteral("serial"), QByteArray::number(serial) + '\n');
}

qint64 CatalogueTrust::highestSerial() const
{
    QMutexLocker locker(&stateLock());
    QFile file(m_folder + QStringLiteral("serial"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const qint64 serial = file.readAll().trimmed().toLongLong(&ok);
    return ok ? serial : -1;
}

} // namespace KOV::Controllers
