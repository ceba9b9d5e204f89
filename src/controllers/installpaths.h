#pragma once

#include <QString>

// Where an instruction entry lives in the X-Plane folder and in the preserve and backup folders.
namespace KOV::Controllers {

/** An entry below `base`; empty (and logged) when it would leave it or name the base itself. */
QString entryLocation(const QString &base, const QString &entry);
/** The folder that holds `path`. */
QString parentFolder(const QString &path);
/** The form of an entry that two packages naming the same file share. */
QString entryKey(const QString &entry);
/** Copies a saved file over whatever is at `destination`; the saved copy goes only once it is back. */
bool putBack(const QString &saved, const QString &destination);

} // namespace KOV::Controllers
