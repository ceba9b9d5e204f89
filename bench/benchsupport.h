#pragma once

// Helpers of the benchmarks: the loopback server in a process of its own, and memory readings.

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSharedPointer>
#include <QTextStream>

#include "app/settings.h"

namespace KOVBench {

/** kov-serve, started beside the benchmark, serving `root` on a free loopback port. */
class ServerProcess
{
public:
    explicit ServerProcess(const QString &root)
    {
        m_process.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/kov-serve"));
        m_process.setArguments({ QStringLiteral("--root"), root });
        m_process.start();
        if (m_process.waitForReadyRead(10000)) {
            const QString line = QString::fromLatin1(m_process.readLine()).trimmed();
            m_port = line.section(QLatin1Char(' '), -1).toUShort();
        }
    }
    ~ServerProcess()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    quint16 port() const { return m_port; }
    QString url(const QString &path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
    }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

/**
 * A benchmark's own data folder under `work`, and settings with the X-Plane, cache, preserve and backup
 * folders there, so that nothing of the user's is read or written.
 */
inline QSharedPointer<KOV::Settings> settingsIn(const QString &work)
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(work + QStringLiteral("/data")));
    QCoreApplication::setOrganizationName(QStringLiteral("Tarrowmere"));
    QCoreApplication::setApplicationName(QStringLiteral("KOV Vazuv bench"));
    auto settings = QSharedPointer<KOV::Settings>::create();
    settings->edited().installation.value = work + QStringLiteral("/X-Plane/");
    settings->edited().language.value = QStringLiteral("en");
    settings->edited().cache.value = work + QStringLiteral("/cache/");
    settings->edited().preserve.value = work + QStringLiteral("/preserve/");
    settings->edited().backup.value = work + QStringLiteral("/backup/");
    return settings;
}

/** A line of /proc/self/status in kB ("VmRSS", "VmHWM"). */
inline qint64 statusKb(const char *key)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression pattern(QStringLiteral("^%1:\\s+(\\d+) kB").arg(QLatin1String(key)));
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(line));
        if (match.hasMatch())
            return match.captured(1).toLongLong();
    }
    return -1;
}

/** Starts a new peak for VmHWM at the present resident size. */
inline void resetPeakMemory()
{
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    if (file.open(QIODevice::WriteOnly))
        file.write("5");
}

inline QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

} // namespace KOVBench
