#pragma once

#include <QByteArray>
#include <QVector>

namespace KOV::Managers {

/**
 * Ed25519 signatures in the file formats of minisign, checked (and made, for the publisher's tool) with
 * OpenSSL's libcrypto. Both variants: "Ed" signs the file itself, "ED" (minisign's default) its BLAKE2b-512.
 */
class Minisign final
{
public:
    static constexpr int keyIdSize = 8;
    static constexpr int publicKeySize = 32;
    static constexpr int seedSize = 32;
    static constexpr int signatureSize = 64;

    struct PublicKey
    {
        QByteArray id; // 8 bytes, as stored
        QByteArray key; // 32 bytes
        bool isValid() const { return id.size() == keyIdSize && key.size() == publicKeySize; }
        bool operator==(const PublicKey &other) const { return id == other.id && key == other.key; }
    };

    struct Signature
    {
        QByteArray algorithm; // "Ed" or "ED"
        QByteArray keyId;
        QByteArray signature;
        QByteArray trustedComment;
        QByteArray globalSignature;
    };

    enum class Check { Valid, Malformed, UnknownKey, BadSignature, BadTrustedComment };

    /** A key from the text of a .pub file, or from its base64 line alone; invalid when it is neither. */
    static PublicKey parsePublicKey(const QByteArray &text);
    /** The four lines of a .minisig file; false when they are not one. */
    static bool parseSignature(const QByteArray &text, Signature *signature);
    /** The key id as minisign prints it: 16 upper-case hex digits. */
    static QByteArray keyIdText(const QByteArray &id);
    /** The base64 line of a public key, and the whole .pub file. */
    static QByteArray publicKeyLine(const PublicKey &key);
    static QByteArray publicKeyFile(const PublicKey &key);

    static QByteArray blake2b512(const QByteArray &data);
    /**
     * Checks `signature` over `message` with the trusted key of its id, and its trusted comment. For "ED",
     * `prehash` may give the message's BLAKE2b-512 computed elsewhere; the message is not read then.
     */
    static Check verify(const QByteArray &message, const Signature &signature, const QVector<PublicKey> &keys,
                        const QByteArray &prehash = QByteArray());

    /** A new key: its 32-byte seed and its public half; false when the system has no randomness. */
    static bool generate(QByteArray *seed, PublicKey *key);
    /** The public half of a seed, with `id`. */
    static PublicKey publicKeyOf(const QByteArray &seed, const QByteArray &id);
    /** A .minisig file for `message`, signed with `seed`. */
    static QByteArray sign(const QByteArray &message, const QByteArray &seed, const QByteArray &keyId,
                           const QByteArray &trustedComment, bool prehashed = true);
};

} // namespace KOV::Managers
