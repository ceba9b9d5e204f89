#include "app/environment.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTranslator>

#ifdef Q_OS_WIN
// windows.h must come first.
// clang-format off
#include <windows.h>
#include <netfw.h>
#include <oleauto.h>
// clang-format on
#endif

namespace KOV {

namespace {

QString withSeparator(const QString &path)
{
    return QDir::toNativeSeparators(path) + QDir::separator();
}

} // namespace

QString applicationDir()
{
    return withSeparator(QCoreApplication::applicationDirPath());
}

bool ensureDir(const QString &path, bool recursive)
{
    QDir dir(path);
    if (dir.exists())
        return true;
    return recursive ? dir.mkpath(QStringLiteral(".")) : QDir().mkdir(path);
}

namespace {

QString existingFolder(QString folder)
{
    while (!QFileInfo(folder).isDir()) {
        const QString up = QFileInfo(folder).absolutePath();
        if (up == folder)
            break;
        folder = up;
    }
    return folder;
}

} // namespace

QString lackOfRoom(const QString &folder, qint64 bytes)
{
    const QStorageInfo storage(existingFolder(folder));
    // Unknown is no reason to refuse: the checked writes still catch a full disk.
    if (!storage.isValid() || storage.bytesAvailable() < 0)
        return QString();
    // A little room for the file system's own bookkeeping of many small files.
    const qint64 needed = bytes + bytes / 50;
    return storage.bytesAvailable() >= needed ? QString() : notEnoughSpaceText(folder, needed);
}

bool isDiskFull(const QString &folder)
{
    const QStorageInfo storage(existingFolder(folder));
    return storage.isValid() && storage.bytesAvailable() >= 0 && storage.bytesAvailable() < 64 * 1024;
}

QString notEnoughSpaceText(const QString &folder, qint64 needed)
{
    const QStorageInfo storage(existingFolder(folder));
    const QLocale locale;
    const QString path = QDir::toNativeSeparators(QDir::cleanPath(folder));
    const QString free = locale.formattedDataSize(qMax<qint64>(0, storage.bytesAvailable()));
    if (needed < 0)
        return QCoreApplication::translate("KOV::Controllers::PackageInstaller",
                                           "Not enough disk space in %1: only %2 free.")
            .arg(path, free);
    return QCoreApplication::translate("KOV::Controllers::PackageInstaller",
                                       "Not enough disk space in %1: %2 needed, %3 free.")
        .arg(path, locale.formattedDataSize(needed), free);
}

QString writeFailureReason(const QString &folder)
{
    if (isDiskFull(folder))
        return notEnoughSpaceText(folder);
    return QCoreApplication::translate("KOV::Controllers::PackageInstaller", "Cannot write to %1")
        .arg(QDir::toNativeSeparators(folder));
}

void setWorkingDirectory()
{
    QDir::setCurrent(applicationDir());
    // QGuiApplication's own property, set by name so that this library needs no GUI module.
    QCoreApplication::instance()->setProperty("quitOnLastWindowClosed", true);
}

QString dataDir()
{
    const QString location = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (location.isEmpty())
        return QString();
    ensureDir(location, true);
    return withSeparator(location);
}

QString defaultCacheDir()
{
    return dataDir() + QStringLiteral("cache") + QDir::separator();
}

QString defaultPreserveDir()
{
    return dataDir() + QStringLiteral("preserve") + QDir::separator();
}

QString defaultBackupDir()
{
    return dataDir() + QStringLiteral("backup") + QDir::separator();
}

bool staysInside(const QString &relativePath)
{
    QString path = relativePath;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:"));
    if (path.startsWith(QLatin1Char('/')) || path.contains(drive))
        return false;
    return !path.split(QLatin1Char('/')).contains(QStringLiteral(".."));
}

bool containsXPlaneExecutable(const QString &folder)
{
    return QFileInfo::exists(folder + QDir::separator() + xplaneExecutableName);
}

QString detectionProbe(int number)
{
#ifdef Q_OS_WIN
    switch (number) {
    case 1:
        return findXPlaneOnDesktop();
    case 2:
        return findXPlaneInFirewallRules();
    default:
        return QString();
    }
#else
    return number == 3 ? locateXPlane() : QString();
#endif
}

QString locateXPlane()
{
    const QString name = QStringLiteral("X-Plane-x86_64");
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("locate"), { name }, QIODevice::ReadWrite);
    // A missing program never starts; there is nothing to wait for then.
    if (!process.waitForStarted(-1))
        return QString();
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QString();

    const QList<QByteArray> lines = process.readAll().split('\n');
    for (const QByteArray &raw : lines) {
        const QString line = QString::fromLocal8Bit(raw).trimmed();
        if (!line.endsWith(name))
            continue;
        const QFileInfo info(line);
        if (info.exists() && info.isFile())
            return withSeparator(info.absolutePath());
    }
    return QString();
}

QString findXPlaneOnDesktop()
{
    return findXPlaneOnDesktop(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
}

QString findXPlaneOnDesktop(const QString &desktopFolder)
{
    if (desktopFolder.isEmpty())
        return QString();
    const QString root = withSeparator(desktopFolder) + QStringLiteral("X-Plane 11") + QDir::separator();
    return QFileInfo::exists(root + QStringLiteral("X-Plane.exe")) ? root : QString();
}

QString lastXPlaneRuleApplication(const QStringList &applicationNames)
{
    QString candidate;
    for (const QString &name : applicationNames) {
        if (name.endsWith(QStringLiteral("X-Plane.exe"), Qt::CaseInsensitive))
            candidate = name;
    }
    return candidate;
}

QString folderOfExistingExecutable(const QString &executable)
{
    if (executable.isEmpty())
        return QString();
    const QFileInfo info(QDir::fromNativeSeparators(executable));
    return info.exists() ? withSeparator(info.absolutePath()) : QString();
}

#ifdef Q_OS_WIN
namespace {

QStringList firewallRuleApplications()
{
    QStringList names;
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(init) && init != RPC_E_CHANGED_MODE) {
        qDebug("CoInitializeEx failed: 0x%08lx", static_cast<unsigned long>(init));
        return names;
    }

    INetFwPolicy2 *policy = nullptr;
    INetFwRules *rules = nullptr;
    IUnknown *enumerator = nullptr;
    IEnumVARIANT *variants = nullptr;
    long count = 0;
    HRESULT hr = CoCreateInstance(__uuidof(NetFwPolicy2), nullptr, CLSCTX_INPROC_SERVER,
                                  __uuidof(INetFwPolicy2), reinterpret_cast<void **>(&policy));
    if (FAILED(hr)) {
        qDebug("CoCreateInstance for INetFwPolicy2 failed: 0x%08lx", static_cast<unsigned long>(hr));
    } else if (FAILED(hr = policy->get_Rules(&rules))) {
        qDebug("get_Rules failed: 0x%08lx", static_cast<unsigned long>(hr));
    } else if (FAILED(hr = rules->get_Count(&count))) {
        qDebug("get_Count failed: 0x%08lx", static_cast<unsigned long>(hr));
    } else if (SUCCEEDED(rules->get__NewEnum(&enumerator)) && enumerator
               && SUCCEEDED(enumerator->QueryInterface(__uuidof(IEnumVARIANT),
                                                       reinterpret_cast<void **>(&variants)))) {
        VARIANT element;
        VariantInit(&element);
        ULONG fetched = 0;
        while (variants->Next(1, &element, &fetched) == S_OK && fetched == 1) {
            bool ok = SUCCEEDED(VariantChangeType(&element, &element, 0, VT_DISPATCH));
            INetFwRule *rule = nullptr;
            ok = ok
                 && SUCCEEDED(V_DISPATCH(&element)->QueryInterface(__uuidof(INetFwRule),
                                                                   reinterpret_cast<void **>(&rule)));
            if (!ok) {
                VariantClear(&element);
                break;
            }
            BSTR application = nullptr;
            if (SUCCEEDED(rule->get_ApplicationName(&application)) && application) {
                names.append(QString::fromWCharArray(application));
                SysFreeString(application);
            }
            rule->Release();
            VariantClear(&element);
        }
    }

    if (variants)
        variants->Release();
    if (enumerator)
        enumerator->Release();
    if (rules)
        rules->Release();
    if (policy)
        policy->Release();
    if (SUCCEEDED(init))
        CoUninitialize();
    return names;
}

} // namespace
#endif

QString findXPlaneInFirewallRules()
{
#ifdef Q_OS_WIN
    return folderOfExistingExecutable(lastXPlaneRuleApplication(firewallRuleApplications()));
#else
    return QString();
#endif
}

void setupLanguage(const QString &language)
{
    if (language == QLatin1String("en"))
        return;
    // Numbers and sizes read as the chosen language writes them ("1,5 MiB").
    QLocale::setDefault(QLocale(language));
    // One translator for the whole process; it is never destroyed.
    static QTranslator *translator = new QTranslator();
    // Beside the program in a build, in share/kovvazuv/ when it is installed.
    const QStringList folders { QStringLiteral("translations"),
                                applicationDir() + QStringLiteral("../share/kovvazuv/translations") };
    for (const QString &folder : folders) {
        if (translator->load(QStringLiteral("qt_") + language, folder)) {
            QCoreApplication::installTranslator(translator);
            break;
        }
    }
    // Qt's own texts (Yes, No, Cancel, the folder dialog) from Qt's translations, else from a copy beside ours.
    static QTranslator *qtTranslator = new QTranslator();
    for (const QString &folder : QStringList { QLibraryInfo::location(QLibraryInfo::TranslationsPath) } + folders) {
        if (qtTranslator->load(QStringLiteral("qtbase_") + language, folder)) {
            QCoreApplication::installTranslator(qtTranslator);
            break;
        }
    }
}

} // namespace KOV
