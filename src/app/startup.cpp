#include "app/startup.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFont>
#include <QFontDatabase>
#include <QLockFile>
#include <QMessageBox>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QSplashScreen>
#include <QTextStream>

#include "app/environment.h"
#include "app/settings.h"
#include "common/qtawesome.h"
#include "controllers/applicationcontroller.h"
#include "controllers/packagecontroller.h"
#include "controllers/topbarcontroller.h"
#include "managers/downloadmanager.h"
#include "models/package.h"
#include "ui/applicationwindow.h"

namespace KOV {

namespace {

// The installation task logs from a worker thread too; lines must never interleave.
QMutex s_logMutex;

class SplashMessenger
{
public:
    explicit SplashMessenger(QSplashScreen &splash)
        : m_splash(splash)
    {
    }

    void show(const QString &text, bool processEvents = true)
    {
        m_splash.showMessage(text, Qt::AlignBottom | Qt::AlignCenter, Qt::white);
        if (processEvents)
            QCoreApplication::processEvents();
    }

private:
    QSplashScreen &m_splash;
};

// Puts the previous handler back when start-up returns, so that a caller's own handler survives.
class MessageHandlerScope
{
public:
    MessageHandlerScope()
        : m_previous(qInstallMessageHandler(logMessageHandler))
    {
    }
    ~MessageHandlerScope() { qInstallMessageHandler(m_previous); }
    Q_DISABLE_COPY_MOVE(MessageHandlerScope)

private:
    QtMessageHandler m_previous;
};

void fillDefaults(Settings &settings)
{
    const Settings::Configuration &current = settings.current();
    Settings::Configuration &edited = settings.edited();
    if (current.language.value.isEmpty())
        edited.language.value = QStringLiteral("en");
    if (current.cache.value.isEmpty())
        edited.cache.value = defaultCacheDir();
    if (current.preserve.value.isEmpty())
        edited.preserve.value = defaultPreserveDir();
    if (current.backup.value.isEmpty())
        edited.backup.value = defaultBackupDir();
    if (current.showFilter.value.isEmpty())
        edited.showFilter.value = QStringLiteral("false");
    if (current.localRepo.value.isEmpty())
        edited.localRepo.value = QStringLiteral("false");
    settings.commit();
}

} // namespace

QString logFilePath()
{
    return dataDir() + QDir::separator() + QStringLiteral("log.txt");
}

void logMessageHandler(QtMsgType, const QMessageLogContext &, const QString &message)
{
    QMutexLocker locker(&s_logMutex);
    QFile file(logFilePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QTextStream stream(&file);
    stream << message << "\n";
    stream.flush();
    file.close();
}

QString selectXPlaneFolder()
{
    for (;;) {
        const QString folder = QFileDialog::getExistingDirectory(
            nullptr, QCoreApplication::translate("QFileDialog", "Select the XPlane folder"), QString(),
            QFileDialog::ShowDirsOnly);
        if (folder.isEmpty())
            return QString();

        const QString root = QDir::toNativeSeparators(folder) + QDir::separator();
        const QString candidate = root + xplaneExecutableName;
        qDebug() << "Checking directory : " << candidate;
        if (QFileInfo::exists(candidate))
            return root;

        QMessageBox::critical(
            nullptr, QCoreApplication::translate("QMessageBox", "Invalid Folder"),
            QCoreApplication::translate(
                "QMessageBox", "Oops...this doesn't seem to be a XPlane installation folder.\n\nTry again"),
            QMessageBox::Ok);
    }
}

ManagerSet createManagers(QSharedPointer<Settings> settings)
{
    auto network = QSharedPointer<QNetworkAccessManager>::create();
    return { QSharedPointer<Managers::DownloadManager>::create(settings, network) };
}

ControllerSet createControllers(const ManagerSet &managers, QSharedPointer<Settings> settings)
{
    ControllerSet controllers;
    controllers.applicationController = QSharedPointer<Controllers::ApplicationController>::create();
    controllers.packageController
        = QSharedPointer<Controllers::PackageController>::create(settings, managers.downloadManager);
    controllers.topbarController = QSharedPointer<Controllers::TopbarController>::create(
        settings, controllers.packageController, controllers.applicationController);
    return controllers;
}

bool loadFonts()
{
    const int regular
        = QFontDatabase::addApplicationFont(QStringLiteral(":/resources/font/ProximaNova-Regular.otf"));
    if (regular < 0)
        return false;
    if (QFontDatabase::addApplicationFont(QStringLiteral(":/resources/font/Proxima_Nova_Bold.otf")) < 0)
        return false;

    // The bundled files are a free stand-in for Proxima Nova; the family name keeps pointing at them.
    const QString family = QStringLiteral("Proxima Nova Rg");
    const QStringList bundled = QFontDatabase::applicationFontFamilies(regular);
    if (!bundled.isEmpty() && !bundled.contains(family))
        QFont::insertSubstitution(family, bundled.first());

    QApplication::setFont(QFont(family, 10));
    return true;
}

int runApplication(QApplication &application)
{
    application.setOrganizationName(QCoreApplication::translate("QObject", "Tarrowmere"));
    application.setApplicationName(QCoreApplication::translate("QObject", "KOV Vazuv"));
    QCoreApplication::processEvents();

    // One program per data folder: two would overwrite each other's archives, records and log.
    QLockFile lock(dataDir() + QStringLiteral("KovVazuv.lock"));
    // A running first instance is never stale, however long it runs; a crashed one is found by its PID.
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0)) {
        QMessageBox::information(nullptr, QCoreApplication::translate("QObject", "KOV Vazuv"),
                                 QCoreApplication::translate("QMessageBox", "KovVazuv is already running."),
                                 QMessageBox::Ok);
        return 0;
    }

    QFile::remove(logFilePath());
    const MessageHandlerScope logScope;

    QSplashScreen splash(QPixmap(QStringLiteral(":/resources/img/splash.png")));
    splash.show();
    SplashMessenger messages(splash);
    messages.show(QCoreApplication::translate("QSplashScreen", "Starting..."));

    setWorkingDirectory();

    messages.show(QCoreApplication::translate("QSplashScreen", "Loading saved configuration..."));
    auto settings = QSharedPointer<Settings>::create();
    qDebug() << "Loading settings from : " << settings->fileName();
    fillDefaults(*settings);

    messages.show(QCoreApplication::translate("QSplashScreen", "Setting up application language..."));
    setupLanguage(settings->current().language.value);

    messages.show(QCoreApplication::translate("QSplashScreen", "Loading fonts..."));
    sharedIcons()->initFontAwesome();
    loadFonts();

    if (settings->current().installation.value.isEmpty()) {
        QString folder;
        const QString probeMessages[] = {
            QCoreApplication::translate("QSplashScreen", "Auto-detecting X-Plane installation...1"),
            QCoreApplication::translate("QSplashScreen", "Auto-detecting X-Plane installation...2"),
            QCoreApplication::translate("QSplashScreen", "Auto-detecting X-Plane installation...3"),
            QCoreApplication::translate("QSplashScreen", "Auto-detecting X-Plane installation...4"),
        };
        // All four messages show, also once a probe has found the folder.
        for (int probe = 1; probe <= 4; ++probe) {
            messages.show(probeMessages[probe - 1]);
            if (folder.isEmpty())
                folder = detectionProbe(probe);
        }

        if (folder.isEmpty()) {
            messages.show(
                QCoreApplication::translate("QSplashScreen", "Manual-detecting X-Plane installation..."));
            QMessageBox::information(
                nullptr, QCoreApplication::translate("QMessageBox", "Auto-dectection failed"),
                QCoreApplication::translate(
                    "QMessageBox", "Unable to determine XPlane installation path.\n\nPlease select the "
                                   "XPlane folder in the next dialog"),
                QMessageBox::Ok);
            folder = selectXPlaneFolder();
        }

        if (folder.isEmpty()) {
            QMessageBox::information(
                nullptr, QCoreApplication::translate("QMessageBox", "Dectection failed"),
                QCoreApplication::translate(
                    "QMessageBox",
                    "Unable to determine XPlane installation path.\n\nApplication cannot continue further."),
                QMessageBox::Ok);
            QCoreApplication::quit();
            return 1;
        }
        settings->edited().installation.value = folder;
    }
    settings->commit();

    messages.show(QCoreApplication::translate("QSplashScreen", "Initializing..."), false);
    Models::Package::registerMetaTypes();

    const ManagerSet managers = createManagers(settings);
    const ControllerSet controllers = createControllers(managers, settings);

    messages.show(QCoreApplication::translate("QSplashScreen", "Creating UI..."), false);
    int result = 0;
    {
        Ui::ApplicationWindow window(controllers.applicationController, controllers.packageController,
                                     controllers.topbarController);
        splash.finish(&window);
        window.show();
        result = QApplication::exec();
        settings->save();
    }
    return result;
}

} // namespace KOV
