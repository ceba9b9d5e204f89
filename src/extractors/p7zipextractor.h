#pragma once

#include <QObject>
#include <QSharedPointer>
#include <QStringList>
#include <QVector>

class QProcess;

namespace KOV::Extractors {

/** One file or folder of an archive, as 7-Zip lists it. */
struct ArchiveEntry
{
    QString path;
    qint64 size = 0;
    quint32 crc = 0;
    bool folder = false;
    /** A symbolic link: what it points at is known only once it is unpacked. */
    bool link = false;
};

/** What 7-Zip says about an archive before anything is unpacked. */
struct ArchiveListing
{
    bool readable = false;
    /** An entry would land outside the destination ("../", absolute, or below a link of the archive). */
    bool unsafe = false;
    /** The unsafe entries, each with why. */
    QStringList unsafeEntries;
    QVector<ArchiveEntry> entries;
    qint64 unpackedSize = 0;
};

/** Unpacks an archive with the external 7-Zip program, on the calling thread. */
class P7ZipExtractor final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(P7ZipExtractor)
public:
    explicit P7ZipExtractor(QObject *parent = nullptr);
    ~P7ZipExtractor() override;

    /** Lists, refuses unsafe archives, then unpacks. */
    bool extract(const QString &archive, const QString &destination);
    /** Reads the archive's table of contents without unpacking anything. */
    ArchiveListing list(const QString &archive);
    /** Unpacks an archive that list() found safe. */
    bool unpack(const QString &archive, const QString &destination);
    bool isAvailable() const;
    /** What 7-Zip printed on its error stream for the last failed run. */
    QString lastError() const { return m_lastError; }
    /** Parses the output of "7z l -slt". */
    static ArchiveListing parseListing(const QByteArray &output);
    /** The links of `listing`, unpacked into `folder`, that point out of it. */
    static QStringList linksLeaving(const ArchiveListing &listing, const QString &folder);
    /** The entry 7-Zip refused to unpack as a link pointing out ("Dangerous link path"), from its error; or empty. */
    static QString dangerousLink(const QString &error);

    /** The program this platform runs: /usr/bin/7z, or 7z.exe beside the program on Windows. */
    static QString programPath();
    /** The arguments on Linux; switches keep 7-Zip from ever asking a question. */
    static QStringList extractArguments(const QString &archive, const QString &destination);
    /** The same as one Windows command line, each path quoted as the C runtime reads it back. */
    static QString windowsExtractCommandLine(const QString &archive, const QString &destination);
    static QString windowsListCommandLine(const QString &archive);
    /** Quotes one argument for a Windows command line. */
    static QString windowsQuote(const QString &argument);

signals:
    void finished();
    void error();

private:
    bool run(QProcess &process, const QStringList &arguments, const QString &nativeCommandLine);

    QSharedPointer<QProcess> m_process;
    QString m_lastError;
};

} // namespace KOV::Extractors
