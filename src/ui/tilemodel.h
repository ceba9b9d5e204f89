#pragma once

#include <QAbstractListModel>
#include <QSize>

namespace KOV::Ui {

/** Rows without data of their own, each the size of a tile: the tiles are widgets over them. */
class TileModel final : public QAbstractListModel
{
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    /** Replaces every row with `count` rows of `size`. */
    void setRows(int count, const QSize &size);
    /** Every row this wide from now on. */
    void setRowWidth(int width);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    int m_count = 0;
    QSize m_size;
};

} // namespace KOV::Ui
