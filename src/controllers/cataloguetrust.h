#pragma once

#include <QCoreApplication>
#include <QDateTime>
#include <QString>
#include <QVector>

#include "managers/minisign.h"

namespace KOV::Controllers {

/**
 * Whether a catalogue is the publisher's: signed by a trusted key, not older than the newest one accepted
 * before (rollback) and not past its expiry (freeze). The newest accepted catalogue and its serial are kept
 * in a folder of the data folder that no reset touches.
 */
class CatalogueTrust final
{
    Q_DECLARE_TR_FUNCTIONS(KOV::Controllers::CatalogueTrust)
public:
    using Key = Managers::Minisign::PublicKey;

    enum Verdict { Accepted, Unsigned, Invalid, Rollback, Expired };

    /** What the trusted comment says: "serial=N expires=YYYY-MM-DDTHH:MM:SSZ". */
    struct Freshness
    {
        qint64 serial = -1;
        QDateTime expires;
    };

    struct Result
    {
        Verdict verdict = Unsigned;
        Freshness freshness;
        /** Which check failed, for log.txt. */
        QString why;
        /** What the user is told when it was refused. */
        QString message() const;
    };

    /** Every key this build and this installation trust: keys/ beside the program and in
     * share/kovvazuv/keys/, and those built in. */
    static QVector<Key> trustedKeys();
    /** The keys of every .pub file in `folder`. */
    static QVector<Key> keysIn(const QString &folder);
    /** The keys of a text of public key lines (the build's own), separated by blanks, commas or semicolons. */
    static QVector<Key> keysFromText(const QString &text);
    /** `trust/` in the data folder. */
    static QString defaultFolder();
    static bool parseFreshness(const QByteArray &comment, Freshness *freshness);

    explicit CatalogueTrust(QVector<Key> keys, QString folder = defaultFolder());

    bool hasKeys() const { return !m_keys.isEmpty(); }
    /**
     * Checks `document` against its signature file's text at `now`. `prehash`: the document's BLAKE2b-512
     * when it was computed beside the reading.
     */
    Result check(const QByteArray &document, const QByteArray &signature, const QDateTime &now,
                 const QByteArray &prehash = QByteArray()) const;
    /** Keeps the catalogue and its signature as the newest accepted, with their serial; false on a write error. */
    bool accept(const QByteArray &document, const QByteArray &signature, qint64 serial) const;
    /** The highest serial accepted so far; -1 before the first. */
    qint64 highestSerial() const;
    /** The copy of the newest accepted catalogue and its signature. */
    QString acceptedCatalogue() const { return m_folder + QStringLiteral("packages.json"); }
    QString acceptedSignature() const { return m_folder + QStringLiteral("packages.json.minisig"); }

private:
    QVector<Key> m_keys;
    QString m_folder;
};

} // namespace KOV::Controllers
