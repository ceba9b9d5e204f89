#include "common/styledbackground.h"

#include <QPainter>
#include <QStyleOption>
#include <QWidget>

namespace KOV {

void paintStyleSheetBackground(QWidget *widget)
{
    QStyleOption option;
    option.initFrom(widget);
    QPainter painter(widget);
    widget->style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, widget);
}

} // namespace KOV
