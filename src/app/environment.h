#pragma once

#include <QString>
#include <QStringList>

// Where the program keeps its files, where X-Plane is, and how the interface is localised.
namespace KOV {

#ifdef Q_OS_WIN
inline const QString xplaneExecutableName = QStringLiteral("X-Plane.exe");
#else
inline const QString xplaneExecutableName = QStringLiteral("X-Plane-x86_64");
#endif

QString applicationDir();
bool ensureDir(const QString &path, bool recursive);
/** Empty when the file system that holds `folder` (or its nearest existing parent) has room for
    `bytes`, else notEnoughSpaceText() with what is needed. */
QString lackOfRoom(const QString &folder, qint64 bytes);
/** Whether the file system that holds `folder` has (nearly) no room left. */
bool isDiskFull(const QString &folder);
/** "Not enough disk space in <folder>: <needed> needed, <free> free."; without the need when it is negative. */
QString notEnoughSpaceText(const QString &folder, qint64 needed = -1);
/** notEnoughSpaceText() when the file system of `folder` is full, else "Cannot write to <folder>". */
QString writeFailureReason(const QString &folder);
void setWorkingDirectory();
QString dataDir();
QString defaultCacheDir();
QString defaultPreserveDir();
QString defaultBackupDir();

/** True when a relative path can only name something below its base: not absolute, no drive, no "..". */
bool staysInside(const QString &relativePath);

/** True when an entry named like the X-Plane executable exists directly inside `folder`. */
bool containsXPlaneExecutable(const QString &folder);

/** Runs detection probe 1 to 4 of this platform; the X-Plane root with a separator, or empty. */
QString detectionProbe(int number);

QString locateXPlane();
QString findXPlaneOnDesktop();
QString findXPlaneOnDesktop(const QString &desktopFolder);
QString findXPlaneInFirewallRules();

/** The application path of the last firewall rule that names the Windows X-Plane executable. */
QString lastXPlaneRuleApplication(const QStringList &applicationNames);
/** The folder (with separator) that holds `executable` when that file exists, else empty. */
QString folderOfExistingExecutable(const QString &executable);

void setupLanguage(const QString &language);

} // namespace KOV
