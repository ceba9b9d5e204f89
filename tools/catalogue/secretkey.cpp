#include "catalogue/secretkey.h"

#include <QList>

#include <cstring>
#include <sodium.h>

namespace KOV::Publishing {

namespace {

// "Ed" | KDF algorithm | "B2" | salt (32) | ops limit (8) | mem limit (8) | key id (8) | secret key (64) | checksum (32)
constexpr int saltAt = 6;
constexpr int opsAt = 38;
constexpr int memAt = 46;
constexpr int keyAt = 54; // the part a password protects: id, secret key and checksum
constexpr int protectedSize = 8 + 64 + 32;
constexpr int fileSize = keyAt + protectedSize;

QByteArray checksum(const QByteArray &id, const QByteArray &secret)
{
    // BLAKE2b-256 over "Ed" | key id | secret key: OpenSSL 3.0 has no BLAKE2b of that length, libsodium has.
    const QByteArray covered = QByteArray("Ed") + id + secret;
    QByteArray sum(32, Qt::Uninitialized);
    crypto_generichash(reinterpret_cast<unsigned char *>(sum.data()), size_t(sum.size()),
                       reinterpret_cast<const unsigned char *>(covered.constData()), size_t(covered.size()), nullptr, 0);
    return sum;
}

quint64 littleEndian(const QByteArray &bytes, int at)
{
    quint64 value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | quint8(bytes.at(at + i));
    return value;
}

QByteArray decodedLine(const QByteArray &text)
{
    const QList<QByteArray> lines = text.trimmed().split('\n');
    if (lines.size() != 2 || !lines.first().startsWith("untrusted comment: "))
        return QByteArray();
    const auto decoded
        = QByteArray::fromBase64Encoding(lines.last().trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded.size() == fileSize && decoded.decoded.startsWith("Ed") ? decoded.decoded
                                                                                             : QByteArray();
}

} // namespace

bool SecretKey::generate(SecretKey *key)
{
    Managers::Minisign::PublicKey publicKey;
    if (!Managers::Minisign::generate(&key->seed, &publicKey))
        return false;
    key->id = publicKey.id;
    return true;
}

bool SecretKey::isEncrypted(const QByteArray &text)
{
    return decodedLine(text).mid(2, 2) == "Sc";
}

bool SecretKey::read(const QByteArray &text, const QByteArray &password, SecretKey *key, QString *error)
{
    QByteArray raw = decodedLine(text);
    if (raw.isEmpty() || raw.mid(4, 2) != "B2") {
        *error = QStringLiteral("not a minisign secret key");
        return false;
    }
    const QByteArray kdf = raw.mid(2, 2);
    if (kdf == "Sc") {
        if (sodium_init() < 0) {
            *error = QStringLiteral("libsodium cannot start");
            return false;
        }
        QByteArray stream(protectedSize, Qt::Uninitialized);
        if (crypto_pwhash_scryptsalsa208sha256(
                reinterpret_cast<unsigned char *>(stream.data()), size_t(stream.size()), password.constData(),
                size_t(password.size()), reinterpret_cast<const unsigned char *>(raw.constData() + saltAt),
                littleEndian(raw, opsAt), size_t(littleEndian(raw, memAt)))
            != 0) {
            *error = QStringLiteral("not enough memory to derive the key from its password");
            return false;
        }
        for (int i = 0; i < protectedSize; ++i)
            raw[keyAt + i] = char(raw.at(keyAt + i) ^ stream.at(i));
        sodium_memzero(stream.data(), size_t(stream.size()));
    } else if (kdf != QByteArray(2, '\0')) {
        *error = QStringLiteral("an unknown key derivation");
        return false;
    }
    const QByteArray id = raw.mid(keyAt, 8);
    const QByteArray secret = raw.mid(keyAt + 8, 64);
    // minisign -W leaves the checksum of a key without a password empty; the halves are checked below.
    const QByteArray stored = raw.mid(keyAt + 72, 32);
    const bool unchecked = kdf != "Sc" && stored == QByteArray(32, '\0');
    if (!unchecked && checksum(id, secret) != stored) {
        *error = kdf == "Sc" ? QStringLiteral("wrong password") : QStringLiteral("the key's checksum does not match");
        return false;
    }
    key->id = id;
    key->seed = secret.left(32);
    // The public half stored beside the seed must be the seed's.
    if (key->publicKey().key != secret.mid(32)) {
        *error = QStringLiteral("the key's two halves do not belong together");
        return false;
    }
    return true;
}

QByteArray SecretKey::write(const SecretKey &key)
{
    const QByteArray secret = key.seed + key.publicKey().key;
    QByteArray raw = QByteArray("Ed") + QByteArray(2, '\0') + QByteArray("B2") + QByteArray(32 + 8 + 8, '\0')
                     + key.id + secret + checksum(key.id, secret);
    return "untrusted comment: minisign secret key, written by kov-catalogue\n" + raw.toBase64() + '\n';
}

} // namespace KOV::Publishing
