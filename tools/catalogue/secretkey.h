#pragma once

#include <QByteArray>
#include <QString>

#include "managers/minisign.h"

namespace KOV::Publishing {

/** A publisher's secret key in minisign's file format, with or without a password. */
class SecretKey final
{
public:
    QByteArray id; // 8 bytes
    QByteArray seed; // 32 bytes

    Managers::Minisign::PublicKey publicKey() const { return Managers::Minisign::publicKeyOf(seed, id); }

    /** A new key; false when the system has no randomness. */
    static bool generate(SecretKey *key);
    /** Whether the file's key is protected by a password. */
    static bool isEncrypted(const QByteArray &text);
    /** Reads a secret key file; `password` for an encrypted one. False with `error` said. */
    static bool read(const QByteArray &text, const QByteArray &password, SecretKey *key, QString *error);
    /** The file as `minisign -G -W` writes it: without a password. */
    static QByteArray write(const SecretKey &key);
};

} // namespace KOV::Publishing
