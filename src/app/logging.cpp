#include "app/logging.h"

namespace KOV {

Q_LOGGING_CATEGORY(lcInstall, "kov.install")
Q_LOGGING_CATEGORY(lcDownload, "kov.download")
Q_LOGGING_CATEGORY(lcDatabase, "kov.database")
Q_LOGGING_CATEGORY(lcExtractor, "kov.extractor")
Q_LOGGING_CATEGORY(lcCatalogue, "kov.catalogue")

} // namespace KOV
