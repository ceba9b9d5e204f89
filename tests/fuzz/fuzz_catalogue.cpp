// libFuzzer entry point for the catalogue parser and the dependency entries.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdint>

#include "catalogueharness.h"

namespace {

QCoreApplication *s_application = nullptr;
QTemporaryDir *s_folder = nullptr;
KOVFuzz::CatalogueHarness *s_harness = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    s_application = new QCoreApplication(*argc, *argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    s_folder = new QTemporaryDir(QStringLiteral("/dev/shm/kov-fuzz-XXXXXX"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(s_folder->path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(s_folder->path()));
    QCoreApplication::setOrganizationName(QStringLiteral("Tarrowmere"));
    QCoreApplication::setApplicationName(QStringLiteral("KOV Vazuv fuzz"));
    s_harness = new KOVFuzz::CatalogueHarness(s_folder->path());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    s_harness->run(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    return 0;
}
