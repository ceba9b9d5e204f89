#pragma once

class QUrl;
class QWidget;

namespace KOV {

/**
 * Hands an http or https link to the desktop's browser; any other link (a file, a program's resource) is
 * refused with a box parented to `parent`. False when it was refused.
 */
bool openExternalLink(const QUrl &url, QWidget *parent);

} // namespace KOV
