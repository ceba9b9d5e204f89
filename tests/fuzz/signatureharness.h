#pragma once

// What the fuzzer and the corpus replay feed to the signature and key parsers: the input as a public key, as
// a signature file over a fixed catalogue, and as a trusted comment.

#include <QByteArray>
#include <QDateTime>

#include "controllers/cataloguetrust.h"
#include "managers/minisign.h"

namespace KOVFuzz {

inline void checkSignature(const QByteArray &input)
{
    using KOV::Managers::Minisign;
    // A fixed key the inputs may name: the corpus holds signatures made with it.
    static const Minisign::PublicKey key
        = Minisign::parsePublicKey("RWSA8MB4XGUP37WKdg6n6fvO3mRODyHLeMH16xjai603FUTCwK+AnndN");
    Minisign::parsePublicKey(input);
    KOV::Controllers::CatalogueTrust::Freshness freshness;
    KOV::Controllers::CatalogueTrust::parseFreshness(input, &freshness);
    Minisign::Signature signature;
    if (Minisign::parseSignature(input, &signature)) {
        const QByteArray catalogue = "[]\n";
        Minisign::verify(catalogue, signature, { key });
        Minisign::verify(catalogue, signature, { key }, Minisign::blake2b512(catalogue));
    }
    // The whole check, without a folder to keep anything in.
    const KOV::Controllers::CatalogueTrust trust({ key }, QStringLiteral("/nonexistent/"));
    trust.check("[]\n", input, QDateTime::currentDateTimeUtc());
}

} // namespace KOVFuzz
