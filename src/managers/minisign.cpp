#include "managers/minisign.h"

#include <QList>

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>

namespace KOV::Managers {

namespace {

const QByteArray untrustedPrefix = "untrusted comment: ";
const QByteArray trustedPrefix = "trusted comment: ";

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Context = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

QByteArray decode(const QByteArray &line, int size)
{
    const auto result
        = QByteArray::fromBase64Encoding(line.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    return result && result.decoded.size() == size ? result.decoded : QByteArray();
}

bool ed25519Verify(const QByteArray &publicKey, const QByteArray &message, const QByteArray &signature)
{
    Key key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                        reinterpret_cast<const unsigned char *>(publicKey.constData()),
                                        size_t(publicKey.size())),
            &EVP_PKEY_free);
    Context context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!key || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char *>(signature.constData()),
                            size_t(signature.size()),
                            reinterpret_cast<const unsigned char *>(message.constData()), size_t(message.size()))
           == 1;
}

QByteArray ed25519Sign(const QByteArray &seed, const QByteArray &message)
{
    Key key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr,
                                         reinterpret_cast<const unsigned char *>(seed.constData()),
                                         size_t(seed.size())),
            &EVP_PKEY_free);
    Context context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    QByteArray signature(Minisign::signatureSize, Qt::Uninitialized);
    size_t length = size_t(signature.size());
    if (!key || !context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1
        || EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &length,
                          reinterpret_cast<const unsigned char *>(message.constData()), size_t(message.size()))
               != 1)
        return QByteArray();
    return signature;
}

} // namespace

Minisign::PublicKey Minisign::parsePublicKey(const QByteArray &text)
{
    // The key is the last non-empty line: the comment line above it, when there is one, says nothing.
    QList<QByteArray> lines = text.trimmed().split('\n');
    if (lines.isEmpty() || lines.size() > 2)
        return {};
    if (lines.size() == 2 && !lines.first().startsWith(untrustedPrefix))
        return {};
    const QByteArray raw = decode(lines.last(), 2 + keyIdSize + publicKeySize);
    if (raw.isEmpty() || !raw.startsWith("Ed"))
        return {};
    return { raw.mid(2, keyIdSize), raw.mid(2 + keyIdSize) };
}

bool Minisign::parseSignature(const QByteArray &text, Signature *signature)
{
    QList<QByteArray> lines = text.split('\n');
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    if (lines.size() != 4 || !lines.at(0).startsWith(untrustedPrefix) || !lines.at(2).startsWith(trustedPrefix))
        return false;
    const QByteArray first = decode(lines.at(1), 2 + keyIdSize + signatureSize);
    const QByteArray global = decode(lines.at(3), signatureSize);
    if (first.isEmpty() || global.isEmpty())
        return false;
    signature->algorithm = first.left(2);
    if (signature->algorithm != "Ed" && signature->algorithm != "ED")
        return false;
    signature->keyId = first.mid(2, keyIdSize);
    signature->signature = first.mid(2 + keyIdSize);
    signature->trustedComment = lines.at(2).mid(trustedPrefix.size());
    signature->globalSignature = global;
    return true;
}

QByteArray Minisign::keyIdText(const QByteArray &id)
{
    // minisign prints the id as a little-endian number.
    QByteArray reversed;
    for (auto it = id.crbegin(); it != id.crend(); ++it)
        reversed.append(*it);
    return reversed.toHex().toUpper();
}

QByteArray Minisign::publicKeyLine(const PublicKey &key)
{
    return (QByteArray("Ed") + key.id + key.key).toBase64();
}

QByteArray Minisign::publicKeyFile(const PublicKey &key)
{
    return untrustedPrefix + "minisign public key " + keyIdText(key.id) + '\n' + publicKeyLine(key) + '\n';
}

QByteArray Minisign::blake2b512(const QByteArray &data)
{
    QByteArray digest(64, Qt::Uninitialized);
    unsigned int length = 0;
    if (EVP_Digest(data.constData(), size_t(data.size()), reinterpret_cast<unsigned char *>(digest.data()),
                   &length, EVP_blake2b512(), nullptr)
            != 1
        || length != 64)
        return QByteArray();
    return digest;
}

Minisign::Check Minisign::verify(const QByteArray &message, const Signature &signature,
                                 const QVector<PublicKey> &keys, const QByteArray &prehash)
{
    if (signature.signature.size() != signatureSize || signature.globalSignature.size() != signatureSize)
        return Check::Malformed;
    const PublicKey *key = nullptr;
    for (const PublicKey &candidate : keys) {
        if (candidate.isValid() && candidate.id == signature.keyId)
            key = &candidate;
    }
    if (!key)
        return Check::UnknownKey;
    bool valid = false;
    if (signature.algorithm == "ED") {
        const QByteArray digest = prehash.size() == 64 ? prehash : blake2b512(message);
        valid = !digest.isEmpty() && ed25519Verify(key->key, digest, signature.signature);
    } else if (signature.algorithm == "Ed") {
        valid = ed25519Verify(key->key, message, signature.signature);
    }
    if (!valid)
        return Check::BadSignature;
    // Only now may the trusted comment be believed: the global signature covers it with the signature.
    if (!ed25519Verify(key->key, signature.signature + signature.trustedComment, signature.globalSignature))
        return Check::BadTrustedComment;
    return Check::Valid;
}

bool Minisign::generate(QByteArray *seed, PublicKey *key)
{
    QByteArray fresh(seedSize, Qt::Uninitialized);
    QByteArray id(keyIdSize, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char *>(fresh.data()), seedSize) != 1
        || RAND_bytes(reinterpret_cast<unsigned char *>(id.data()), keyIdSize) != 1)
        return false;
    *key = publicKeyOf(fresh, id);
    *seed = fresh;
    return key->isValid();
}

Minisign::PublicKey Minisign::publicKeyOf(const QByteArray &seed, const QByteArray &id)
{
    Key key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr,
                                         reinterpret_cast<const unsigned char *>(seed.constData()),
                                         size_t(seed.size())),
            &EVP_PKEY_free);
    QByteArray raw(publicKeySize, Qt::Uninitialized);
    size_t length = size_t(raw.size());
    if (!key || EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char *>(raw.data()), &length) != 1
        || length != size_t(publicKeySize))
        return {};
    return { id, raw };
}

QByteArray Minisign::sign(const QByteArray &message, const QByteArray &seed, const QByteArray &keyId,
                          const QByteArray &trustedComment, bool prehashed)
{
    const QByteArray signature = ed25519Sign(seed, prehashed ? blake2b512(message) : message);
    const QByteArray global = ed25519Sign(seed, signature + trustedComment);
    if (signature.isEmpty() || global.isEmpty() || trustedComment.contains('\n'))
        return QByteArray();
    return untrustedPrefix + "signature from minisign secret key\n"
           + (QByteArray(prehashed ? "ED" : "Ed") + keyId + signature).toBase64() + '\n' + trustedPrefix
           + trustedComment + '\n' + global.toBase64() + '\n';
}

} // namespace KOV::Managers
