#include "extractors/p7zipextractor.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSet>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif

#include "app/environment.h"
#include "app/logging.h"

namespace KOV::Extractors {

namespace {

// No question may ever wait for an answer: overwrite what is there, and an empty password
// makes an encrypted archive fail at once.
const QStringList quietSwitches { QStringLiteral("-aoa"), QStringLiteral("-p") };

// 7-Zip ends with us: one left running after a crash would go on writing into the folder that the next
// start cleans up.
class ChildProcess final : public QProcess
{
protected:
    void setupChildProcess() override
    {
#ifdef Q_OS_LINUX
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    }
};

} // namespace

P7ZipExtractor::P7ZipExtractor(QObject *parent)
    : QObject(parent)
    , m_process(new ChildProcess)
{
    const QString program = programPath();
    if (QFileInfo::exists(program)) {
        m_process->setProgram(program);
        m_process->setWorkingDirectory(applicationDir());
    }
    connect(m_process.data(), QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            [this](int exitCode, QProcess::ExitStatus) {
                if (exitCode == 0)
                    emit finished();
                else
                    emit error();
            });
}

P7ZipExtractor::~P7ZipExtractor() = default;

QString P7ZipExtractor::programPath()
{
#ifdef Q_OS_WIN
    return applicationDir() + QStringLiteral("7z.exe");
#else
    return QStringLiteral("/usr/bin/7z");
#endif
}

QStringList P7ZipExtractor::extractArguments(const QString &archive, const QString &destination)
{
    return QStringList { QStringLiteral("x"), QFileInfo(archive).absoluteFilePath(),
                         QStringLiteral("-o") + destination }
           + quietSwitches;
}

QString P7ZipExtractor::windowsQuote(const QString &argument)
{
    // Backslashes are literal unless they precede a quote; there each one must be doubled.
    QString quoted = QStringLiteral("\"");
    int backslashes = 0;
    for (const QChar c : argument) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
            continue;
        }
        if (c == QLatin1Char('"')) {
            quoted += QString(backslashes * 2 + 1, QLatin1Char('\\'));
        } else {
            quoted += QString(backslashes, QLatin1Char('\\'));
        }
        backslashes = 0;
        quoted += c;
    }
    quoted += QString(backslashes * 2, QLatin1Char('\\'));
    return quoted + QLatin1Char('"');
}

QString P7ZipExtractor::windowsExtractCommandLine(const QString &archive, const QString &destination)
{
    const QString absolute = QDir::toNativeSeparators(QFileInfo(archive).absoluteFilePath());
    return QStringLiteral("x ") + windowsQuote(absolute) + QStringLiteral(" -o") + windowsQuote(destination)
           + QLatin1Char(' ') + quietSwitches.join(QLatin1Char(' '));
}

QString P7ZipExtractor::windowsListCommandLine(const QString &archive)
{
    const QString absolute = QDir::toNativeSeparators(QFileInfo(archive).absoluteFilePath());
    return QStringLiteral("l -slt -p ") + windowsQuote(absolute);
}

bool P7ZipExtractor::run(QProcess &process, const QStringList &arguments, const QString &nativeCommandLine)
{
#ifdef Q_OS_WIN
    Q_UNUSED(arguments)
    process.setArguments({});
    process.setNativeArguments(nativeCommandLine);
#else
    Q_UNUSED(nativeCommandLine)
    process.setArguments(arguments);
#endif
    m_lastError.clear();
    // Closed, not an open pipe: a question on standard input reads end-of-file and fails.
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(-1)) {
        m_lastError = process.errorString();
        qCWarning(lcExtractor) << "Extractor Error : " << m_lastError;
        return false;
    }
    // No time-out: a large archive takes as long as it takes.
    process.waitForFinished(-1);
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    m_lastError = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    qCWarning(lcExtractor) << "Extractor Error : " << m_lastError;
    qCWarning(lcExtractor) << "Extractor Error : "
                           << (process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1);
    return false;
}

bool P7ZipExtractor::isAvailable() const
{
    return !m_process->program().isEmpty();
}

ArchiveListing P7ZipExtractor::parseListing(const QByteArray &output)
{
    ArchiveListing listing;
    listing.readable = true;
    // Entries follow the "----------" line; the lines above describe the archive itself.
    bool inEntries = false;
    ArchiveEntry entry;
    const auto flush = [&listing, &entry] {
        if (entry.path.isEmpty())
            return;
        if (!staysInside(entry.path)) {
            qCWarning(lcExtractor) << "Extractor Error : "
                                   << "entry outside the destination:" << entry.path;
            listing.unsafe = true;
            listing.unsafeEntries << entry.path + QStringLiteral(": leaves the folder it is unpacked into");
        }
        if (!entry.folder)
            listing.unpackedSize += entry.size;
        listing.entries.append(entry);
        entry = ArchiveEntry();
    };
    for (const QByteArray &raw : output.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1String("----------"))) {
            inEntries = true;
            continue;
        }
        if (!inEntries)
            continue;
        if (line.startsWith(QLatin1String("Path = "))) {
            flush();
            entry.path = line.mid(7);
        } else if (line.startsWith(QLatin1String("Size = "))) {
            entry.size = line.mid(7).toLongLong();
        } else if (line.startsWith(QLatin1String("CRC = "))) {
            entry.crc = line.mid(6).toUInt(nullptr, 16);
        } else if (line == QLatin1String("Folder = +")
                   || (line.startsWith(QLatin1String("Attributes = "))
                       && line.mid(13).startsWith(QLatin1Char('D')))) {
            entry.folder = true;
        } else if (line.startsWith(QLatin1String("Attributes = ")) && line.contains(QLatin1String(" l"))) {
            // The Unix mode after the Windows attributes: "A lrwxrwxrwx".
            entry.link = line.section(QLatin1Char(' '), -1).startsWith(QLatin1Char('l'));
        }
    }
    flush();
    // An entry below a link of the same archive would be written wherever the link points.
    QSet<QString> links;
    for (const ArchiveEntry &candidate : qAsConst(listing.entries)) {
        if (candidate.link)
            links.insert(QDir::cleanPath(QDir::fromNativeSeparators(candidate.path)));
    }
    for (const ArchiveEntry &candidate : qAsConst(listing.entries)) {
        QString folder = QDir::cleanPath(QDir::fromNativeSeparators(candidate.path));
        for (int slash = folder.lastIndexOf(QLatin1Char('/')); slash > 0 && !links.isEmpty();
             slash = folder.lastIndexOf(QLatin1Char('/'))) {
            folder.truncate(slash);
            if (links.contains(folder)) {
                qCWarning(lcExtractor) << "Extractor Error : "
                                       << "entry below a link of the archive:" << candidate.path;
                listing.unsafe = true;
                listing.unsafeEntries << candidate.path + QStringLiteral(": lies below the link ") + folder;
                break;
            }
        }
    }
    return listing;
}

QStringList P7ZipExtractor::linksLeaving(const ArchiveListing &listing, const QString &folder)
{
    QStringList leaving;
    const QString base = QFileInfo(folder).canonicalFilePath();
    for (const ArchiveEntry &entry : listing.entries) {
        if (!entry.link)
            continue;
        const QFileInfo link(folder + QLatin1Char('/') + entry.path);
        const QString target = QDir::cleanPath(link.symLinkTarget());
        if (link.isSymLink() && (target == base || target.startsWith(base + QLatin1Char('/'))))
            continue;
        leaving << entry.path;
    }
    return leaving;
}

QString P7ZipExtractor::dangerousLink(const QString &error)
{
    const int dangerous = error.indexOf(QLatin1String("Dangerous link path was ignored : "));
    return dangerous < 0 ? QString() : error.mid(dangerous).section(QStringLiteral(" : "), 1, 1).trimmed();
}

ArchiveListing P7ZipExtractor::list(const QString &archive)
{
    if (!isAvailable())
        return {};
    const QStringList arguments { QStringLiteral("l"), QStringLiteral("-slt"), QStringLiteral("-p"),
                                  QFileInfo(archive).absoluteFilePath() };
    ChildProcess listing;
    listing.setProgram(m_process->program());
    listing.setWorkingDirectory(m_process->workingDirectory());
    if (!run(listing, arguments, windowsListCommandLine(archive)))
        return {};
    return parseListing(listing.readAllStandardOutput());
}

bool P7ZipExtractor::unpack(const QString &archive, const QString &destination)
{
    if (!isAvailable())
        return false;
    const QStringList arguments = extractArguments(archive, destination);
#ifdef Q_OS_WIN
    const QString commandLine = windowsExtractCommandLine(archive, destination);
    qDebug() << "Extract paramenter : " << commandLine;
#else
    const QString commandLine;
    qDebug() << "Extract paramenter : " << arguments;
#endif
    return run(*m_process, arguments, commandLine);
}

bool P7ZipExtractor::extract(const QString &archive, const QString &destination)
{
    // Some 7-Zip builds unpack "../" and absolute entries where they say; such an archive is refused.
    const ArchiveListing listing = list(archive);
    if (!listing.readable || listing.unsafe)
        return false;
    return unpack(archive, destination);
}

} // namespace KOV::Extractors
