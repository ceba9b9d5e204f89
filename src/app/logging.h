#pragma once

#include <QLoggingCategory>

// Warnings and errors go through categories: QT_NO_DEBUG_OUTPUT silences qDebug, never these.
namespace KOV {

Q_DECLARE_LOGGING_CATEGORY(lcInstall)
Q_DECLARE_LOGGING_CATEGORY(lcDownload)
Q_DECLARE_LOGGING_CATEGORY(lcDatabase)
Q_DECLARE_LOGGING_CATEGORY(lcExtractor)
Q_DECLARE_LOGGING_CATEGORY(lcCatalogue)

} // namespace KOV
