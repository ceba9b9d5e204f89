#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QSharedPointer>
#include <QString>
#include <QVector>

#include "models/package.h"

namespace KOV::Controllers {

/** Turns a packages.json document into packages and writes change logs; touches no network and no database.
 */
class CatalogueReader final
{
    Q_DECLARE_TR_FUNCTIONS(KOV::Controllers::CatalogueReader)
public:
    /** A catalogue file larger than this is not read at all. */
    static constexpr qint64 maximumDocumentSize = 64 * 1024 * 1024;
    /** Descriptions and a version's change log are cut to this many characters. */
    static constexpr int maximumTextSize = 256 * 1024;

    /** The packages of a document, in document order; packages without versions are left out. */
    static QVector<QSharedPointer<Models::Package>> read(const QByteArray &document, const QString &language);
    /** The same; false, with the parser's complaint in `error`, when the document is no JSON array. */
    static bool read(const QByteArray &document, const QString &language,
                     QVector<QSharedPointer<Models::Package>> *packages, QString *error);

    /** The change log from just above `installed` up to `version`, newest first; empty when it is not newer.
     */
    static QString changeLogHtml(const QSharedPointer<Models::Package> &package, const QString &installed,
                                 const QString &version);
    /** One version in the change-log markup: its number in bold, then its lines. */
    static QString changeLogEntryHtml(const Models::PackageVersion &version);
};

} // namespace KOV::Controllers
