#pragma once

#include "common/qtawesomeiconpainter.h"

namespace KOV {

/** Draws a single glyph of the icon font in the colour that the mode and state select. */
class QtAwesomeCharIconPainter final : public QtAwesomeIconPainter
{
public:
    void paint(QtAwesome *awesome, QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state,
               const QVariantMap &options) override;

    /** The value of `key` ("color" or "text") for a mode and state, falling back to the plain key. */
    static QVariant optionValueForModeAndState(const QVariantMap &options, const QString &key,
                                               QIcon::Mode mode, QIcon::State state);
    /** The glyph's pixel size for a rectangle height. */
    static int glyphPixelSize(int rectHeight, const QVariantMap &options);
};

} // namespace KOV
