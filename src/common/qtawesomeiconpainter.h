#pragma once

#include <QIcon>
#include <QVariantMap>

class QPainter;
class QRect;

namespace KOV {

class QtAwesome;

/** Draws one icon of the icon font into a rectangle. */
class QtAwesomeIconPainter
{
public:
    virtual ~QtAwesomeIconPainter() = default;
    virtual void paint(QtAwesome *awesome, QPainter *painter, const QRect &rect, QIcon::Mode mode,
                       QIcon::State state, const QVariantMap &options)
        = 0;
};

} // namespace KOV
