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
/** Copies a file, link or folder tree to `destination` (which must not exist); nothing is left on failure. */
bool copyPath(const QString &source, const QString &destination);
/** Deletes a file, link (never what it points at) or folder tree; true when nothing is left. */
bool removePath(const QString &path);
/**
 * Moves everything in `from` into `to`, all or nothing: false (and `from` as it was) when a name is taken
 * in `to` or a move fails. `from` may be missing or empty.
 */
bool moveFolderContents(const QString &from, const QString &to);
/** The bytes of a file or of every file below a folder. */
qint64 pathSize(const QString &path);

} // namespace KOV::Controllers
