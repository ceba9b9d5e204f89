// libFuzzer entry point for the signature and key parsers.
#include <QCoreApplication>
#include <cstdint>

#include "signatureharness.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    new QCoreApplication(*argc, *argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    KOVFuzz::checkSignature(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    return 0;
}
