#include "managers/sha256.h"

#include <QFile>

#include <openssl/evp.h>

namespace KOV::Managers {

Sha256::Sha256()
    : m_context(EVP_MD_CTX_new())
{
    EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr);
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(m_context);
}

void Sha256::addData(const char *data, qint64 length)
{
    EVP_DigestUpdate(m_context, data, size_t(length));
}

bool Sha256::addFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray buffer(1024 * 1024, Qt::Uninitialized);
    qint64 read = 0;
    while ((read = file.read(buffer.data(), buffer.size())) > 0)
        addData(buffer.constData(), read);
    return read == 0;
}

QByteArray Sha256::hexResult()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_context, digest, &length);
    return QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
}

} // namespace KOV::Managers
