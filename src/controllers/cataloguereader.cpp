#include "controllers/cataloguereader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVersionNumber>

#include <algorithm>

namespace KOV::Controllers {

using Models::Package;
using Models::PackageVersion;

namespace {

QString jsonString(const QJsonValue &value)
{
    return value.isString() ? value.toString() : QString();
}

QStringList jsonStrings(const QJsonValue &value)
{
    QStringList strings;
    for (const QJsonValue &element : value.toArray())
        strings << jsonString(element);
    return strings;
}

// The text under the interface language, else under "en", else nothing.
QString localized(const QJsonValue &value, const QString &language)
{
    if (!value.isObject())
        return QString();
    const QJsonObject texts = value.toObject();
    const auto text = texts.constFind(language);
    return jsonString(text != texts.constEnd() ? text.value() : texts.value(QLatin1String("en")));
}

QSharedPointer<PackageVersion> parseVersion(const QJsonObject &object)
{
    auto version = QSharedPointer<PackageVersion>::create();
    version->version = jsonString(object.value(QStringLiteral("version")));
    version->link = jsonString(object.value(QStringLiteral("link")));
    version->sha256 = jsonString(object.value(QStringLiteral("sha256"))).toLower();
    const double size = object.value(QStringLiteral("size")).toDouble();
    version->size = size > 0 && size < 9e15 ? qint64(size) : 0;
    version->depends = jsonStrings(object.value(QStringLiteral("depends")));
    version->log = jsonStrings(object.value(QStringLiteral("log")));
    const QJsonObject install = object.value(QStringLiteral("install")).toObject();
    version->install = QSharedPointer<Models::InstallInstructions>::create();
    version->install->extract = jsonString(install.value(QStringLiteral("extract")));
    version->install->preserve = jsonStrings(install.value(QStringLiteral("preserve")));
    version->install->backup = jsonStrings(install.value(QStringLiteral("backup")));
    version->uninstall = QSharedPointer<Models::UninstallInstructions>::create();
    version->uninstall->remove
        = jsonStrings(object.value(QStringLiteral("uninstall")).toObject().value(QStringLiteral("remove")));
    return version;
}

QSharedPointer<Package> parsePackage(const QJsonObject &object, const QString &language)
{
    QVector<QSharedPointer<PackageVersion>> versions;
    for (const QJsonValue &version : object.value(QStringLiteral("versions")).toArray())
        versions << parseVersion(version.toObject());
    if (versions.isEmpty())
        return {};
    std::sort(versions.begin(), versions.end(), [](const auto &a, const auto &b) {
        return QVersionNumber::compare(QVersionNumber::fromString(a->version),
                                       QVersionNumber::fromString(b->version))
               > 0;
    });

    auto package = QSharedPointer<Package>::create();
    package->setName(localized(object.value(QStringLiteral("name")), language));
    const QJsonValue id = object.value(QStringLiteral("id"));
    package->setId(id.isDouble() ? id.toInt() : 0);
    package->setState(Package::AVAILABLE);
    package->setShortDescription(localized(object.value(QStringLiteral("short_description")), language));
    package->setDescription(localized(object.value(QStringLiteral("description")), language));
    package->setType(jsonString(object.value(QStringLiteral("type"))));
    package->setPaid(object.value(QStringLiteral("paid")).toBool(false));
    package->setIcon(jsonString(object.value(QStringLiteral("icon"))));
    package->setManualUrl(jsonString(object.value(QStringLiteral("manual_url"))));
    package->setHelpUrl(jsonString(object.value(QStringLiteral("help_url"))));
    package->setBanners(jsonStrings(object.value(QStringLiteral("banner"))));
    package->setVersions(versions);
    return package;
}

} // namespace

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
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(document, &parseError);
    if (parseError.error != QJsonParseError::NoError || !json.isArray()) {
        *error = parseError.error != QJsonParseError::NoError
                     ? QStringLiteral("%1 at offset %2").arg(parseError.errorString()).arg(parseError.offset)
                     : QStringLiteral("not a list of packages");
        return false;
    }
    const QJsonArray entries = json.array();
    packages->clear();
    packages->reserve(entries.size());
    for (const QJsonValue &entry : entries) {
        if (QSharedPointer<Package> package = parsePackage(entry.toObject(), language))
            packages->append(package);
    }
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
        return html + QStringLiteral("<p>Not available></p>");
    html += QStringLiteral("<ul>");
    for (const QString &line : version.log)
        html += QStringLiteral("<li>") + line + QStringLiteral("</li>");
    return html + QStringLiteral("</ul>");
}

} // namespace KOV::Controllers
