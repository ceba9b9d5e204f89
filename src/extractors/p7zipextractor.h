#pragma once

#include <QObject>
#include <QSharedPointer>
#include <QStringList>

class QProcess;

namespace KOV::Extractors {

/** Unpacks an archive with the external 7-Zip program, on the calling thread. */
class P7ZipExtractor final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(P7ZipExtractor)
public:
    explicit P7ZipExtractor(QObject *parent = nullptr);
    ~P7ZipExtractor() override;

    bool extract(const QString &archive, const QString &destination);

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
    static bool run(QProcess &process, const QStringList &arguments, const QString &nativeCommandLine);
    bool hasUnsafeEntries(const QString &archive);

    QSharedPointer<QProcess> m_process;
};

} // namespace KOV::Extractors
