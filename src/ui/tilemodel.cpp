#include "ui/tilemodel.h"

namespace KOV::Ui {

void TileModel::setRows(int count, const QSize &size)
{
    beginResetModel();
    m_count = count;
    m_size = size;
    endResetModel();
}

void TileModel::setRowWidth(int width)
{
    if (width == m_size.width())
        return;
    m_size.setWidth(width);
    // The rows are of one size: the view lays them out again from the first.
    emit layoutChanged();
}

int TileModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_count;
}

QVariant TileModel::data(const QModelIndex &index, int role) const
{
    if (role == Qt::SizeHintRole && index.isValid() && index.row() < m_count)
        return m_size;
    return QVariant();
}

} // namespace KOV::Ui
