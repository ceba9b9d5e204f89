#include "common/qtawesomechariconpainter.h"

#include <QPainter>
#include <QtMath>

#include "common/qtawesome.h"

namespace KOV {

void QtAwesomeCharIconPainter::paint(QtAwesome *awesome, QPainter *painter, const QRect &rect,
                                     QIcon::Mode mode, QIcon::State state, const QVariantMap &options)
{
    painter->save();
    const QColor color
        = optionValueForModeAndState(options, QStringLiteral("color"), mode, state).value<QColor>();
    const QString text = optionValueForModeAndState(options, QStringLiteral("text"), mode, state).toString();
    painter->setPen(color);
    painter->setFont(awesome->font(glyphPixelSize(rect.height(), options)));
    painter->drawText(rect, Qt::AlignCenter | Qt::AlignVCenter, text);
    painter->restore();
}

QVariant QtAwesomeCharIconPainter::optionValueForModeAndState(const QVariantMap &options, const QString &key,
                                                              QIcon::Mode mode, QIcon::State state)
{
    QString modePostfix;
    switch (mode) {
    case QIcon::Disabled:
        modePostfix = QStringLiteral("-disabled");
        break;
    case QIcon::Active:
        modePostfix = QStringLiteral("-active");
        break;
    case QIcon::Selected:
        modePostfix = QStringLiteral("-selected");
        break;
    case QIcon::Normal:
        break;
    }
    const QString statePostfix = state == QIcon::Off ? QStringLiteral("-off") : QString();

    QStringList candidates;
    if (!modePostfix.isEmpty() && !statePostfix.isEmpty())
        candidates << key + modePostfix + statePostfix;
    if (!modePostfix.isEmpty())
        candidates << key + modePostfix;
    if (!statePostfix.isEmpty())
        candidates << key + statePostfix;

    for (const QString &candidate : qAsConst(candidates)) {
        const auto found = options.constFind(candidate);
        if (found != options.constEnd() && !found->toString().isEmpty())
            return *found;
    }
    return options.value(key);
}

int QtAwesomeCharIconPainter::glyphPixelSize(int rectHeight, const QVariantMap &options)
{
    // Halves round away from zero, as std::round does.
    return static_cast<int>(std::round(rectHeight * options.value(QStringLiteral("scale-factor")).toFloat()));
}

} // namespace KOV
