#include "catalogue/cataloguelint.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <QVersionNumber>

#include <algorithm>
#include <functional>
#include <simdjson.h>

#include "app/environment.h"
#include "controllers/cataloguereader.h"
#include "controllers/dependencyresolver.h"
#include "controllers/installpaths.h"
#include "controllers/packagepaths.h"
#include "models/download.h"

namespace KOV::Publishing {

using Controllers::PackagePaths;
namespace od = simdjson::ondemand;

namespace {

struct VersionFacts
{
    QString number;
    int line = 0;
    QVector<QPair<Controllers::Dependency, int>> depends; // with their lines
};

struct PackageFacts
{
    int index = 0;
    qint64 id = -1;
    int line = 0;
    int idLine = 0;
    QVector<VersionFacts> versions;
};

// Walks one document with simdjson's On Demand API, noting every problem with the line it is on.
class Walker
{
public:
    explicit Walker(const QByteArray &document)
        : m_document(document)
    {
        for (int i = 0; i < document.size(); ++i) {
            if (document.at(i) == '\n')
                m_lineStarts << i + 1;
        }
    }

    QVector<CatalogueLint::Problem> problems;
    QVector<PackageFacts> packages;
    bool broken() const { return m_broken; }

    void run()
    {
        simdjson::padded_string json(m_document.constData(), size_t(m_document.size()));
        m_base = json.data();
        od::parser parser;
        od::document document;
        if (parser.iterate(json).get(document) != simdjson::SUCCESS) {
            add(1, QString(), QStringLiteral("not JSON"));
            return;
        }
        od::array list;
        if (const auto error = document.get_array().get(list)) {
            add(1, QString(), QStringLiteral("the catalogue is not a JSON array of packages (%1)")
                                  .arg(QString::fromLatin1(simdjson::error_message(error))));
            return;
        }
        int index = 0;
        for (auto entry : list) {
            od::value value;
            if (const auto error = entry.get(value)) {
                fail(error);
                return;
            }
            PackageFacts facts;
            facts.index = index;
            facts.line = lineAt(value);
            m_prefix = QStringLiteral("[%1]").arg(index++);
            if (!package(value, &facts))
                return;
            packages << facts;
        }
    }

private:
    int lineOf(const char *position) const
    {
        if (!position)
            return m_lineStarts.size();
        const int offset = int(position - m_base);
        return int(std::upper_bound(m_lineStarts.cbegin(), m_lineStarts.cend(), offset) - m_lineStarts.cbegin());
    }
    int lineAt(od::value &value)
    {
        const char *position = nullptr;
        if (value.current_location().get(position) == simdjson::SUCCESS)
            m_lastLine = lineOf(position);
        return m_lastLine;
    }
    void add(int line, const QString &path, const QString &text) { problems.append({ line, path, text }); }
    void fail(simdjson::error_code error)
    {
        add(m_lastLine, m_prefix, QStringLiteral("not valid JSON here (%1)").arg(QString::fromLatin1(simdjson::error_message(error))));
        m_broken = true;
    }

    // Each field of an object, with its key, its line and its value; false when the JSON itself is broken.
    bool fields(od::value &value, const QString &path, const std::function<bool(const QString &, int, od::value &)> &each)
    {
        const int line = lineAt(value);
        od::object object;
        if (value.get_object().get(object) != simdjson::SUCCESS) {
            add(line, path, QStringLiteral("must be an object"));
            return !m_broken && skip(value);
        }
        for (auto field : object) {
            std::string_view key;
            od::value child;
            if (field.unescaped_key().get(key) || field.value().get(child)) {
                fail(simdjson::TAPE_ERROR);
                return false;
            }
            const QString name = QString::fromUtf8(key.data(), int(key.size()));
            if (!each(name, lineAt(child), child) || m_broken)
                return false;
        }
        return true;
    }
    // A value left unread is skipped by the iteration it belongs to.
    static bool skip(od::value &) { return true; }
    bool text(od::value &value, const QString &path, QString *result, int line)
    {
        std::string_view view;
        if (value.get_string().get(view) != simdjson::SUCCESS) {
            add(line, path, QStringLiteral("must be a string"));
            return skip(value);
        }
        *result = QString::fromUtf8(view.data(), int(view.size()));
        return true;
    }
    bool texts(od::value &value, const QString &path, QStringList *result, QVector<int> *lines, int line)
    {
        od::array array;
        if (value.get_array().get(array) != simdjson::SUCCESS) {
            add(line, path, QStringLiteral("must be an array of strings"));
            return skip(value);
        }
        int index = 0;
        for (auto entry : array) {
            od::value item;
            if (entry.get(item)) {
                fail(simdjson::TAPE_ERROR);
                return false;
            }
            QString string;
            const int itemLine = lineAt(item);
            if (!text(item, QStringLiteral("%1[%2]").arg(path).arg(index++), &string, itemLine))
                return false;
            *result << string;
            if (lines)
                *lines << itemLine;
        }
        return true;
    }
    bool link(od::value &value, const QString &path, int line, bool required)
    {
        QString url;
        if (!text(value, path, &url, line))
            return false;
        if ((required || !url.isEmpty()) && !Models::Download::isSupportedUrl(QUrl(url, QUrl::TolerantMode)))
            add(line, path, QStringLiteral("not an http or https link: %1").arg(url));
        return true;
    }
    bool texts(od::value &value, const QString &path)
    {
        // A text per language: an object of strings.
        return fields(value, path, [&](const QString &language, int childLine, od::value &child) {
            QString ignored;
            return text(child, path + QLatin1Char('.') + language, &ignored, childLine);
        });
    }
    bool entryInside(const QString &entry, const QString &path, int line)
    {
        if (!staysInside(entry)) {
            add(line, path, QStringLiteral("leaves the X-Plane folder"));
            return false;
        }
        return true;
    }

    bool package(od::value &value, PackageFacts *facts)
    {
        return fields(value, QString(), [&](const QString &key, int line, od::value &child) {
            if (key == QLatin1String("id")) {
                double number = 0;
                if (child.get_double().get(number) != simdjson::SUCCESS || number != qint64(number) || number < 0) {
                    add(line, key, QStringLiteral("must be a whole number, not negative"));
                    return skip(child);
                }
                facts->id = qint64(number);
                facts->idLine = line;
                return true;
            }
            if (key == QLatin1String("name") || key == QLatin1String("short_description")
                || key == QLatin1String("description"))
                return texts(child, key);
            if (key == QLatin1String("type")) {
                QString type;
                return text(child, key, &type, line);
            }
            if (key == QLatin1String("icon") || key == QLatin1String("manual_url") || key == QLatin1String("help_url"))
                return link(child, key, line, false);
            if (key == QLatin1String("paid")) {
                bool paid = false;
                if (child.get_bool().get(paid) != simdjson::SUCCESS) {
                    add(line, key, QStringLiteral("must be true or false"));
                    return skip(child);
                }
                return true;
            }
            if (key == QLatin1String("banner")) {
                QStringList banners;
                QVector<int> lines;
                if (!texts(child, key, &banners, &lines, line))
                    return false;
                for (int i = 0; i < banners.size(); ++i) {
                    if (!Models::Download::isSupportedUrl(QUrl(banners.at(i), QUrl::TolerantMode)))
                        add(lines.at(i), QStringLiteral("banner[%1]").arg(i),
                            QStringLiteral("not an http or https link: %1").arg(banners.at(i)));
                }
                return true;
            }
            if (key == QLatin1String("versions")) {
                od::array array;
                if (child.get_array().get(array) != simdjson::SUCCESS) {
                    add(line, key, QStringLiteral("must be an array of versions"));
                    return skip(child);
                }
                int index = 0;
                for (auto entry : array) {
                    od::value item;
                    if (entry.get(item)) {
                        fail(simdjson::TAPE_ERROR);
                        return false;
                    }
                    VersionFacts version;
                    version.line = lineAt(item);
                    if (!this->version(item, QStringLiteral("versions[%1]").arg(index++), &version))
                        return false;
                    facts->versions << version;
                }
                return true;
            }
            add(line, key, QStringLiteral("unknown key: the program ignores it"));
            return skip(child);
        });
    }

    bool version(od::value &value, const QString &path, VersionFacts *facts)
    {
        QString extract;
        int extractLine = facts->line;
        QStringList remove;
        QVector<int> removeLines;
        bool hasLink = false;
        bool hasSum = false;
        const bool ok = fields(value, path, [&](const QString &key, int line, od::value &child) {
            const QString where = path + QLatin1Char('.') + key;
            if (key == QLatin1String("version")) {
                if (!text(child, where, &facts->number, line))
                    return false;
                int suffix = 0;
                const QVersionNumber number = QVersionNumber::fromString(facts->number, &suffix);
                if (number.isNull() || suffix != facts->number.size())
                    add(line, where, QStringLiteral("not a version number of dotted integers: \"%1\"").arg(facts->number));
                return true;
            }
            if (key == QLatin1String("link")) {
                hasLink = true;
                return link(child, where, line, true);
            }
            if (key == QLatin1String("mirrors")) {
                QStringList mirrors;
                QVector<int> lines;
                if (!texts(child, where, &mirrors, &lines, line))
                    return false;
                for (int i = 0; i < mirrors.size(); ++i) {
                    if (!Models::Download::isSupportedUrl(QUrl(mirrors.at(i), QUrl::TolerantMode)))
                        add(lines.at(i), QStringLiteral("%1[%2]").arg(where).arg(i),
                            QStringLiteral("not an http or https link: %1").arg(mirrors.at(i)));
                }
                return true;
            }
            if (key == QLatin1String("sha256")) {
                QString sum;
                if (!text(child, where, &sum, line))
                    return false;
                hasSum = true;
                static const QRegularExpression hex(QStringLiteral("^[0-9a-fA-F]{64}$"));
                if (!hex.match(sum).hasMatch())
                    add(line, where, QStringLiteral("must be 64 hexadecimal digits"));
                return true;
            }
            if (key == QLatin1String("size")) {
                double size = 0;
                if (child.get_double().get(size) != simdjson::SUCCESS || size < 0 || size != qint64(size)) {
                    add(line, where, QStringLiteral("must be a whole number of bytes, not negative"));
                    return skip(child);
                }
                return true;
            }
            if (key == QLatin1String("depends")) {
                QStringList entries;
                QVector<int> lines;
                if (!texts(child, where, &entries, &lines, line))
                    return false;
                for (int i = 0; i < entries.size(); ++i) {
                    const Controllers::Dependency dependency = Controllers::DependencyResolver::parse(entries.at(i));
                    static const QRegularExpression shape(QStringLiteral("^\\d+(:\\d+(\\.\\d+)*)?$"));
                    if (!dependency.valid || !shape.match(entries.at(i)).hasMatch())
                        add(lines.at(i), QStringLiteral("%1[%2]").arg(where).arg(i),
                            QStringLiteral("not a dependency \"id\" or \"id:version\": \"%1\"").arg(entries.at(i)));
                    else
                        facts->depends.append({ dependency, lines.at(i) });
                }
                return true;
            }
            if (key == QLatin1String("log")) {
                QStringList lines;
                return texts(child, where, &lines, nullptr, line);
            }
            if (key == QLatin1String("install")) {
                return fields(child, where, [&](const QString &name, int childLine, od::value &entry) {
                    const QString at = where + QLatin1Char('.') + name;
                    if (name == QLatin1String("extract")) {
                        extractLine = childLine;
                        return text(entry, at, &extract, childLine);
                    }
                    if (name == QLatin1String("preserve") || name == QLatin1String("backup")) {
                        QStringList entries;
                        QVector<int> lines;
                        if (!texts(entry, at, &entries, &lines, childLine))
                            return false;
                        for (int i = 0; i < entries.size(); ++i) {
                            const QString item = QStringLiteral("%1[%2]").arg(at).arg(i);
                            const QString entryKey = Controllers::entryKey(entries.at(i));
                            if (entryInside(entries.at(i), item, lines.at(i))
                                && (entryKey.isEmpty() || entryKey == QLatin1String(".")))
                                add(lines.at(i), item, QStringLiteral("names the X-Plane folder itself"));
                        }
                        return true;
                    }
                    add(childLine, at, QStringLiteral("unknown key: the program ignores it"));
                    return skip(entry);
                });
            }
            if (key == QLatin1String("uninstall")) {
                return fields(child, where, [&](const QString &name, int childLine, od::value &entry) {
                    if (name == QLatin1String("remove"))
                        return texts(entry, where + QStringLiteral(".remove"), &remove, &removeLines, childLine);
                    add(childLine, where + QLatin1Char('.') + name, QStringLiteral("unknown key: the program ignores it"));
                    return skip(entry);
                });
            }
            add(line, where, QStringLiteral("unknown key: the program ignores it"));
            return skip(child);
        });
        if (!ok)
            return false;
        if (facts->number.isEmpty())
            add(facts->line, path, QStringLiteral("has no version number"));
        if (!hasLink)
            add(facts->line, path, QStringLiteral("has no link"));
        if (!hasSum)
            add(facts->line, path, QStringLiteral("has no sha256: a signed catalogue cannot install it"));
        const bool extractInside = entryInside(extract, path + QStringLiteral(".install.extract"), extractLine);
        for (int i = 0; i < remove.size(); ++i) {
            const QString item = QStringLiteral("%1.uninstall.remove[%2]").arg(path).arg(i);
            if (!staysInside(remove.at(i)))
                add(removeLines.at(i), item, QStringLiteral("leaves the X-Plane folder"));
            else if (PackagePaths::isXPlaneFolder(remove.at(i)))
                add(removeLines.at(i), item, QStringLiteral("names one of X-Plane's own folders, which holds files not the package's"));
            else if (extractInside && !PackagePaths::refuseRemoveEntry(remove.at(i), extract).isEmpty())
                add(removeLines.at(i), item, QStringLiteral("holds the package's own folder \"%1\"").arg(extract));
        }
        return true;
    }

    QByteArray m_document;
    const char *m_base = nullptr;
    QVector<int> m_lineStarts { 0 };
    QString m_prefix;
    bool m_broken = false;
    int m_lastLine = 1;
};

void crossCheck(const QVector<PackageFacts> &packages, QVector<CatalogueLint::Problem> *problems)
{
    QHash<qint64, const PackageFacts *> byId;
    for (const PackageFacts &package : packages) {
        if (package.id < 0) {
            problems->append({ package.line, QString(), QStringLiteral("has no id") });
            continue;
        }
        if (byId.contains(package.id))
            problems->append({ package.idLine, QStringLiteral("id"),
                               QStringLiteral("the id %1 is taken by an earlier package").arg(package.id) });
        else
            byId.insert(package.id, &package);
        if (package.versions.isEmpty())
            problems->append({ package.line, QStringLiteral("versions"),
                               QStringLiteral("no versions: the program leaves the package out") });
        // Newest first: each version above the next.
        for (int i = 1; i < package.versions.size(); ++i) {
            const QVersionNumber newer = QVersionNumber::fromString(package.versions.at(i - 1).number);
            const QVersionNumber older = QVersionNumber::fromString(package.versions.at(i).number);
            if (QVersionNumber::compare(newer, older) <= 0)
                problems->append({ package.versions.at(i).line, QStringLiteral("versions[%1]").arg(i),
                                   QStringLiteral("%1 is not older than %2 before it: versions go newest first")
                                       .arg(package.versions.at(i).number, package.versions.at(i - 1).number) });
        }
    }
    // Dependencies name existing packages with a version that meets the minimum.
    QHash<qint64, QSet<qint64>> edges;
    for (const PackageFacts &package : packages) {
        for (int v = 0; v < package.versions.size(); ++v) {
            const auto &depends = package.versions.at(v).depends;
            for (int d = 0; d < depends.size(); ++d) {
                const Controllers::Dependency &dependency = depends.at(d).first;
                const QString path = QStringLiteral("versions[%1].depends[%2]").arg(v).arg(d);
                const PackageFacts *target = byId.value(dependency.id);
                if (!target) {
                    problems->append({ depends.at(d).second, path, QStringLiteral("no package has the id %1").arg(dependency.id) });
                    continue;
                }
                edges[package.id].insert(dependency.id);
                const QVersionNumber minimum = QVersionNumber::fromString(dependency.minimum);
                const bool met = std::any_of(target->versions.cbegin(), target->versions.cend(), [&](const VersionFacts &offered) {
                    return QVersionNumber::compare(QVersionNumber::fromString(offered.number), minimum) >= 0;
                });
                if (!met)
                    problems->append({ depends.at(d).second, path,
                                       QStringLiteral("package %1 offers no version %2 or newer").arg(dependency.id).arg(dependency.minimum) });
            }
        }
    }
    // No cycles: depth-first, each package once.
    QHash<qint64, int> state; // 1 on the path, 2 done
    std::function<bool(qint64, QVector<qint64> &)> visit = [&](qint64 id, QVector<qint64> &path) {
        state[id] = 1;
        path << id;
        for (qint64 next : edges.value(id)) {
            if (state.value(next) == 1) {
                QStringList cycle;
                for (int i = path.indexOf(next); i < path.size(); ++i)
                    cycle << QString::number(path.at(i));
                cycle << QString::number(next);
                const PackageFacts *first = byId.value(next);
                problems->append({ first ? first->line : 0, QStringLiteral("versions"),
                                   QStringLiteral("dependency cycle: %1").arg(cycle.join(QStringLiteral(" -> "))) });
                return true;
            }
            if (state.value(next) == 0 && visit(next, path))
                return true;
        }
        state[id] = 2;
        path.removeLast();
        return false;
    };
    QList<qint64> ids = edges.keys();
    std::sort(ids.begin(), ids.end());
    for (qint64 id : ids) {
        QVector<qint64> path;
        if (state.value(id) == 0)
            visit(id, path);
    }
}

} // namespace

QVector<CatalogueLint::Problem> CatalogueLint::check(const QByteArray &document, QHash<QString, int> *versionLines)
{
    Walker walker(document);
    walker.run();
    if (versionLines) {
        for (const PackageFacts &package : walker.packages) {
            for (const VersionFacts &version : package.versions)
                versionLines->insert(QStringLiteral("%1/%2").arg(package.id).arg(version.number), version.line);
        }
    }
    QVector<Problem> problems = walker.problems;
    // The program's own reader has the last word on what it can read at all.
    QVector<QSharedPointer<Models::Package>> packages;
    QString error;
    if (!Controllers::CatalogueReader::read(document, QStringLiteral("en"), &packages, &error) && problems.isEmpty())
        problems.append({ 1, QString(), QStringLiteral("the program cannot read it: %1").arg(error) });
    if (!walker.broken())
        crossCheck(walker.packages, &problems);
    std::stable_sort(problems.begin(), problems.end(), [](const Problem &a, const Problem &b) { return a.line < b.line; });
    return problems;
}

QString CatalogueLint::format(const QString &file, const Problem &problem)
{
    QString text = file + QLatin1Char(':') + QString::number(problem.line) + QStringLiteral(": ");
    if (!problem.path.isEmpty())
        text += problem.path + QStringLiteral(": ");
    return text + problem.text;
}

} // namespace KOV::Publishing
