#include "ui/tilelist.h"

namespace KOV::Ui {

QVector<int> TileList::rowsNearViewport(int margin) const
{
    QVector<int> rows;
    const int height = viewport()->height();
    // The row at the top of the viewport; from there outwards until the rows lie beyond the margin.
    const QModelIndex top = indexAt(QPoint(1, 1));
    const int start = top.isValid() ? top.row() : 0;
    for (int row = start - 1; row >= 0; --row) {
        if (isRowHidden(row))
            continue;
        if (visualItemRect(item(row)).bottom() < -margin)
            break;
        rows.append(row);
    }
    for (int row = start; row < count(); ++row) {
        if (isRowHidden(row))
            continue;
        if (visualItemRect(item(row)).top() > height + margin)
            break;
        rows.append(row);
    }
    return rows;
}

void TileList::updateGeometries()
{
    QListWidget::updateGeometries();
    emit viewportChanged();
}

void TileList::scrollContentsBy(int dx, int dy)
{
    QListWidget::scrollContentsBy(dx, dy);
    emit viewportChanged();
}

} // namespace KOV::Ui
