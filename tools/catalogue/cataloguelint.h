#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>

namespace KOV::Publishing {

/**
 * Checks a packages.json before it is published, with the rules the program itself applies when it reads
 * and installs: the shape and types, unique ids, versions newest first, dependencies that exist and can be
 * met without a cycle, paths that stay inside the X-Plane folder, remove entries that can be the package's
 * own, web links only and well-formed checksums.
 */
class CatalogueLint final
{
public:
    struct Problem
    {
        int line = 0;
        QString path; // inside its package: "versions[0].install.extract"
        QString text;
    };

    /** Every problem, by line; `versionLines` (when given) receives the line of each version, by "id/version". */
    static QVector<Problem> check(const QByteArray &document, QHash<QString, int> *versionLines = nullptr);
    /** "packages.json:12: versions[0].install.extract: leaves the X-Plane folder" */
    static QString format(const QString &file, const Problem &problem);
};

} // namespace KOV::Publishing
