#pragma once

class QWidget;

namespace KOV {

/** Paints a plain widget's style-sheet background and border, which QWidget itself does not. */
void paintStyleSheetBackground(QWidget *widget);

} // namespace KOV
