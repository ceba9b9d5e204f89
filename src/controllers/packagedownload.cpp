#include "controllers/packagedownload.h"

#include "models/download.h"

namespace KOV::Controllers {

using Models::Download;
using Models::Package;

void PackageDownload::attach(const QSharedPointer<Download> &download, const QSharedPointer<Package> &package,
                             ProcessHandler onProcess, ErrorHandler onError)
{
    Download *source = download.data();
    package->resetDownloadProgress();
    QObject::connect(source, QOverload<qlonglong>::of(&Download::fileSize), package.data(),
                     &Package::reportTotalSize);
    QObject::connect(source, QOverload<qlonglong>::of(&Download::currentSize), package.data(),
                     &Package::reportDownloadedSize);
    QObject::connect(source, &Download::finished, package.data(), &Package::downloadFinished);
    // Set by the error handler; a download that failed is never installed.
    auto failed = QSharedPointer<bool>::create(false);
    QObject::connect(source, &Download::error, package.data(), [source, failed, onError](const QString &) {
        *failed = true;
        // A disk fault names its own reason; anything else is the server's.
        onError(source->failureReason());
    });
    QWeakPointer<Download> weak = download;
    QObject::connect(source, &Download::processChanged, package.data(),
                     [weak, failed, onProcess](Download::Process process) {
                         if (!*failed)
                             onProcess(weak.toStrongRef(), process);
                     });
}

} // namespace KOV::Controllers
