#include "controllers/cataloguereader.h"

#include "controllers/cataloguescanner.h"

namespace KOV::Controllers {

using Models::Package;
using Models::PackageVersion;

QVector<QSharedPointer<Package>> CatalogueReader::read(const QByteArray &document, const QString &language)
{
    QVector<QSharedPointer<Package>> packages;
    QString error;
    read(document, language, &packages, &error);
    return packages;
}

bool CatalogueReader::read(const QByteArray &document, const QString &language,
                           QVector<QSharedPointer<Package>> *packages, QString *error)
{
    return CatalogueScanner(document, language).read(packages, error);
}

QString CatalogueReader::changeLogHtml(const QSharedPointer<Package> &package, const QString &installed,
                                       const QString &version)
{
    if (package->state() != Package::INSTALLED || installed.isEmpty())
        return QString();
    const int installedIndex = Models::versionIndex(package, installed);
    const int targetIndex = Models::versionIndex(package, version);
    if (installedIndex <= targetIndex)
        return QString();

    const QVector<QSharedPointer<PackageVersion>> versions = package->versions();
    QString html;
    for (int k = targetIndex; k < installedIndex; ++k)
        html += changeLogEntryHtml(*versions.at(k));
    return html;
}

QString CatalogueReader::changeLogEntryHtml(const PackageVersion &version)
{
    QString html = QStringLiteral("<strong>") + version.version + QStringLiteral("</strong>");
    // The stray ">" is how the program has always written it.
    if (version.log.isEmpty())
        return html + QStringLiteral("<p>Not available></p>");
    html += QStringLiteral("<ul>");
    for (const QString &line : version.log)
        html += QStringLiteral("<li>") + line + QStringLiteral("</li>");
    return html + QStringLiteral("</ul>");
}

} // namespace KOV::Controllers
