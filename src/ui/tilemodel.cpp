#include "ui/tilemodel.h"

namespace KOV::Ui {

void TileModel::setRows(int count, const QSize &size)
{
    beginResetModel();
    m_count = count;
    m_size = size;
    endResetModel();
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
