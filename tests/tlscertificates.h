#pragma once

// Certificates made for a test with OpenSSL: a test CA, and server certificates signed by it or by
// themselves, for any host and any validity, expired ones included.

#include <QByteArray>
#include <QStringList>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace KOVTest {

struct TlsIdentity
{
    QByteArray key; // PEM
    QByteArray certificate; // PEM
};

namespace detail {

inline QByteArray pem(int (*write)(BIO *, void *), void *object)
{
    BIO *bio = BIO_new(BIO_s_mem());
    write(bio, object);
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    QByteArray result(data, int(size));
    BIO_free(bio);
    return result;
}

} // namespace detail

/**
 * A certificate for `commonName` with the subject alternative names `altNames` ("IP:127.0.0.1",
 * "DNS:example.org"), valid from `fromDays` to `toDays` days from now, signed by `issuer` (by itself when
 * null); `authority` makes it a CA.
 */
inline TlsIdentity makeIdentity(const QByteArray &commonName, const QByteArray &altNames, int fromDays, int toDays,
                                const TlsIdentity *issuer = nullptr, bool authority = false)
{
    static long serial = 1000;
    EVP_PKEY *key = EVP_EC_gen("P-256");
    X509 *certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), ++serial);
    X509_gmtime_adj(X509_getm_notBefore(certificate), long(fromDays) * 86400);
    X509_gmtime_adj(X509_getm_notAfter(certificate), long(toDays) * 86400);
    X509_set_pubkey(certificate, key);
    X509_NAME *name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>(commonName.constData()), -1, -1, 0);

    X509 *issuerCertificate = certificate;
    EVP_PKEY *issuerKey = key;
    if (issuer) {
        BIO *bio = BIO_new_mem_buf(issuer->certificate.constData(), issuer->certificate.size());
        issuerCertificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        bio = BIO_new_mem_buf(issuer->key.constData(), issuer->key.size());
        issuerKey = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
    }
    X509_set_issuer_name(certificate, X509_get_subject_name(issuerCertificate));
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuerCertificate, certificate, nullptr, nullptr, 0);
    const auto add = [&](int nid, const char *value) {
        if (X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value)) {
            X509_add_ext(certificate, extension, -1);
            X509_EXTENSION_free(extension);
        }
    };
    add(NID_basic_constraints, authority ? "critical,CA:TRUE" : "CA:FALSE");
    if (authority)
        add(NID_key_usage, "critical,keyCertSign,cRLSign");
    if (!altNames.isEmpty())
        add(NID_subject_alt_name, altNames.constData());
    X509_sign(certificate, issuerKey, EVP_sha256());

    TlsIdentity identity;
    identity.key = detail::pem(
        [](BIO *bio, void *object) {
            return PEM_write_bio_PrivateKey(bio, static_cast<EVP_PKEY *>(object), nullptr, nullptr, 0, nullptr,
                                            nullptr);
        },
        key);
    identity.certificate = detail::pem(
        [](BIO *bio, void *object) { return PEM_write_bio_X509(bio, static_cast<X509 *>(object)); }, certificate);
    if (issuer) {
        X509_free(issuerCertificate);
        EVP_PKEY_free(issuerKey);
    }
    X509_free(certificate);
    EVP_PKEY_free(key);
    return identity;
}

} // namespace KOVTest
