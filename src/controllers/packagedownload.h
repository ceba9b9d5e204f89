#pragma once

#include <QSharedPointer>

#include <functional>

#include "models/package.h"

namespace KOV::Models {
class Download;
}

namespace KOV::Controllers {

/** Ties an archive download to the package that waits for it: sizes, the end, and each change of process. */
class PackageDownload final
{
public:
    using ProcessHandler = std::function<void(const QSharedPointer<Models::Download> &download, int process)>;
    using ErrorHandler = std::function<void(const QString &reason)>;

    /**
     * After an error the process handler hears nothing more of this download. The package's connections go
     * with the package; the download is held weakly, as it holds them.
     */
    static void attach(const QSharedPointer<Models::Download> &download,
                       const QSharedPointer<Models::Package> &package, ProcessHandler onProcess,
                       ErrorHandler onError);
};

} // namespace KOV::Controllers
