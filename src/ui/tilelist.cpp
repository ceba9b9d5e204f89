#include "ui/tilelist.h"

#include "ui/tilemodel.h"

namespace KOV::Ui {

TileList::TileList(QWidget *parent)
    : QListView(parent)
    , m_model(new TileModel(this))
{
    setModel(m_model);
}

void TileList::setRows(int count, const QSize &size)
{
    // Deleted now rather than later by the view, so that no tile outlives its package list.
    for (int row = 0; row < m_model->rowCount(); ++row)
        delete tile(row);
    m_tileWidth = size.width();
    m_model->setRows(count, QSize(qMax(size.width(), viewport()->width()), size.height()));
}

int TileList::count() const
{
    return m_model->rowCount();
}

QWidget *TileList::tile(int row) const
{
    return indexWidget(m_model->index(row));
}

void TileList::setTile(int row, QWidget *tile)
{
    setIndexWidget(m_model->index(row), tile);
}

QRect TileList::tileRect(int row) const
{
    return visualRect(m_model->index(row));
}

void TileList::scrollToRow(int row)
{
    scrollTo(m_model->index(row));
}

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
        if (tileRect(row).bottom() < -margin)
            break;
        rows.append(row);
    }
    for (int row = start; row < count(); ++row) {
        if (isRowHidden(row))
            continue;
        if (tileRect(row).top() > height + margin)
            break;
        rows.append(row);
    }
    return rows;
}

void TileList::updateGeometries()
{
    QListView::updateGeometries();
    emit viewportChanged();
}

void TileList::resizeEvent(QResizeEvent *event)
{
    QListView::resizeEvent(event);
    if (m_tileWidth > 0)
        m_model->setRowWidth(qMax(m_tileWidth, viewport()->width()));
}

void TileList::scrollContentsBy(int dx, int dy)
{
    QListView::scrollContentsBy(dx, dy);
    emit viewportChanged();
}

} // namespace KOV::Ui
