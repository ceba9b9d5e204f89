#include "common/externallink.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

#include "models/download.h"

namespace KOV {

bool openExternalLink(const QUrl &url, QWidget *parent)
{
    if (!Models::Download::isSupportedUrl(url)) {
        QMessageBox box(QMessageBox::Warning, Models::Download::tr("Link"),
                        Models::Download::unsupportedLinkText(url.toString()), QMessageBox::Ok, parent);
        box.setTextFormat(Qt::PlainText);
        box.exec();
        return false;
    }
    return QDesktopServices::openUrl(url);
}

} // namespace KOV
