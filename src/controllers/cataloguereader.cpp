#include "controllers/cataloguereader.h"

#include <QDebug>

#include "app/logging.h"
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

namespace {

// A text that would take the detail page's layout minutes and gigabytes is cut, with a line in log.txt.
void boundTexts(const QVector<QSharedPointer<Package>> &packages)
{
    const int limit = CatalogueReader::maximumTextSize;
    for (const QSharedPointer<Package> &package : packages) {
        if (package->description().size() > limit) {
            qCWarning(lcCatalogue) << "Catalogue Warning : the description of package" << package->id()
                                   << "is cut to" << limit << "characters of" << package->description().size();
            package->setDescription(package->description().left(limit));
        }
        for (const QSharedPointer<PackageVersion> &version : package->versions()) {
            int size = 0;
            for (int line = 0; line < version->log.size(); ++line) {
                size += version->log.at(line).size();
                if (size <= limit)
                    continue;
                qCWarning(lcCatalogue) << "Catalogue Warning : the change log of package" << package->id()
                                       << "version" << version->version << "is cut to" << limit << "characters";
                version->log = version->log.mid(0, line);
                break;
            }
        }
    }
}

} // namespace

bool CatalogueReader::read(const QByteArray &document, const QString &language,
                           QVector<QSharedPointer<Package>> *packages, QString *error)
{
    if (document.size() > maximumDocumentSize) {
        *error = QStringLiteral("The catalogue is larger than %1 bytes").arg(maximumDocumentSize);
        return false;
    }
    if (!CatalogueScanner(document, language).read(packages, error))
        return false;
    boundTexts(*packages);
    return true;
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
        return html + QStringLiteral("<p>") + tr("Not available") + QStringLiteral("></p>");
    html += QStringLiteral("<ul>");
    for (const QString &line : version.log)
        html += QStringLiteral("<li>") + line + QStringLiteral("</li>");
    return html + QStringLiteral("</ul>");
}

} // namespace KOV::Controllers
