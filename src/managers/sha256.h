#pragma once

#include <QByteArray>
#include <QString>

struct evp_md_ctx_st;

namespace KOV::Managers {

/**
 * SHA-256 through OpenSSL's libcrypto, which uses the processor's SHA instructions where it has them:
 * several times faster than QCryptographicHash, whose pass over a large archive would cost more than its
 * download over a fast line.
 */
class Sha256 final
{
    Q_DISABLE_COPY_MOVE(Sha256)
public:
    Sha256();
    ~Sha256();

    void addData(const char *data, qint64 length);
    void addData(const QByteArray &data) { addData(data.constData(), data.size()); }
    /** Adds the contents of a file; false when it cannot be read. */
    bool addFile(const QString &path);
    /** The digest in lower-case hex; the hash cannot take more data afterwards. */
    QByteArray hexResult();

private:
    evp_md_ctx_st *m_context;
};

} // namespace KOV::Managers
