#pragma once

// Helpers shared by the tests: private user folders and an answerer for modal boxes.

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QMutex>
#include <QPointer>
#include <QProcess>
#include <QQueue>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

#include "models/download.h"
#include "models/package.h"

namespace KOVTest {

/** Points the settings file, the data folder and PATH additions at a fresh temporary folder. */
class TemporaryHome
{
public:
    TemporaryHome()
    {
        m_originalPath = qgetenv("PATH");
        const QString root = m_dir.path();
        for (const char *name : { "config", "data", "cache", "bin" })
            QDir(root).mkpath(QString::fromLatin1(name));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/config")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(root + QStringLiteral("/data")));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(root + QStringLiteral("/cache")));
        // QSettings keeps its user folder for the whole process; tell it the new one.
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, root + QStringLiteral("/config"));
    }
    ~TemporaryHome() { qputenv("PATH", m_originalPath); }
    Q_DISABLE_COPY_MOVE(TemporaryHome)

    QString path() const { return m_dir.path(); }
    QString binDir() const { return m_dir.path() + QStringLiteral("/bin"); }
    QString iniPath() const { return m_dir.path() + QStringLiteral("/config/Tarrowmere/KOV Vazuv.ini"); }
    QString dataPath() const { return m_dir.path() + QStringLiteral("/data/Tarrowmere/KOV Vazuv"); }

    /** Places an executable shell script named `name` first on PATH. */
    void addProgram(const QString &name, const QByteArray &script)
    {
        QFile file(binDir() + QLatin1Char('/') + name);
        file.open(QIODevice::WriteOnly);
        file.write("#!/bin/sh\n" + script);
        file.close();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
        qputenv("PATH", QFile::encodeName(binDir()) + ':' + m_originalPath);
    }

    /** Only this folder on PATH: no program of the system is found. */
    void isolatePath() { qputenv("PATH", QFile::encodeName(binDir())); }

private:
    QTemporaryDir m_dir;
    QByteArray m_originalPath;
};

/** Answers modal widgets one after the other, in the order they appear, and records what it saw. */
class ModalAnswerer final : public QObject
{
public:
    using Action = std::function<void(QWidget *)>;

    ModalAnswerer()
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
        m_timer.start(20);
    }

    void enqueue(Action action) { m_actions.enqueue(std::move(action)); }
    QStringList seen() const { return m_seen; }
    bool allAnswered() const { return m_actions.isEmpty(); }

    static Action button(QMessageBox::StandardButton which)
    {
        return [which](QWidget *widget) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (box && box->button(which))
                box->button(which)->click();
            else
                widget->close();
        };
    }
    static Action closeWindow()
    {
        return [](QWidget *widget) {
            widget->close();
        };
    }
    static Action chooseFolder(const QString &folder)
    {
        return [folder](QWidget *widget) {
            auto *dialog = qobject_cast<QFileDialog *>(widget);
            if (!dialog) {
                widget->close();
                return;
            }
            dialog->setDirectory(folder);
            static_cast<QDialog *>(dialog)->accept(); // QFileDialog hides it; the dialog's own one runs
        };
    }
    static Action cancelDialog()
    {
        return [](QWidget *widget) {
            if (auto *dialog = qobject_cast<QDialog *>(widget))
                dialog->reject();
            else
                widget->close();
        };
    }

private:
    void poll()
    {
        QWidget *widget = QApplication::activeModalWidget();
        if (!widget || widget == m_last)
            return;
        m_last = widget;
        if (auto *box = qobject_cast<QMessageBox *>(widget))
            m_seen << box->windowTitle() + QLatin1Char('|') + box->text();
        else
            m_seen << QString::fromLatin1(widget->metaObject()->className()) + QLatin1Char('|')
                          + widget->windowTitle();
        // Unexpected boxes are closed so that nothing ever hangs.
        const Action action = m_actions.isEmpty() ? closeWindow() : m_actions.dequeue();
        QTimer::singleShot(0, widget, [widget, action] { action(widget); });
    }

    QTimer m_timer;
    QPointer<QWidget> m_last;
    QQueue<Action> m_actions;
    QStringList m_seen;
};

/**
 * Clears a quit request made while no event loop ran: Qt keeps it and ends every later loop at once,
 * which in a test process would close every later modal box unseen.
 */
inline void clearPendingQuit()
{
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

/** Collects the log lines written while it lives. */
class LogCapture
{
public:
    LogCapture()
    {
        lines().clear();
        // Workers log too (the catalogue's reads): one line at a time.
        m_previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &message) {
            const QMutexLocker locker(&lock());
            lines() << message;
        });
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    Q_DISABLE_COPY_MOVE(LogCapture)

    static QStringList &lines()
    {
        static QStringList captured;
        return captured;
    }
    static QMutex &lock()
    {
        static QMutex mutex;
        return mutex;
    }
    bool contains(const QString &start) const { return count(start) > 0; }
    int count(const QString &start) const
    {
        int found = 0;
        for (const QString &line : lines())
            found += line.startsWith(start) ? 1 : 0;
        return found;
    }

private:
    QtMessageHandler m_previous;
};

/** Packs everything below `folder` into a 7z archive with the system's 7-Zip. */
inline bool make7z(const QString &archive, const QString &folder, const QStringList &extra = {})
{
    QFile::remove(archive);
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral("7z"), QStringList { QStringLiteral("a"), QStringLiteral("-bd") } + extra
                                            + QStringList { archive, QStringLiteral(".") });
    return process.waitForFinished(60000) && process.exitCode() == 0;
}

/** A version record with its install and uninstall instructions. */
inline QSharedPointer<KOV::Models::PackageVersion> makeVersion(const QString &number, const QString &extract,
                                                               const QStringList &preserve, const QStringList &backup,
                                                               const QStringList &remove)
{
    auto version = QSharedPointer<KOV::Models::PackageVersion>::create();
    version->version = number;
    version->install = QSharedPointer<KOV::Models::InstallInstructions>::create();
    version->install->extract = extract;
    version->install->preserve = preserve;
    version->install->backup = backup;
    version->uninstall = QSharedPointer<KOV::Models::UninstallInstructions>::create();
    version->uninstall->remove = remove;
    return version;
}

/** The file a download of `url` writes in the cache folder `cache`. */
inline QString cachedFile(const QString &cache, const QString &url)
{
    return cache + QLatin1Char('/') + KOV::Models::Download::fileNameForUrl(QUrl(url, QUrl::TolerantMode));
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(content) == content.size();
}

} // namespace KOVTest
