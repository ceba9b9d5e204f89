#pragma once

#include <QListView>

namespace KOV::Ui {

class TileModel;

/**
 * The list of package tiles. A row costs nothing until its tile is made: the rows are a count and a
 * size, the tiles widgets over the rows that came near the viewport.
 */
class TileList final : public QListView
{
    Q_OBJECT
public:
    explicit TileList(QWidget *parent = nullptr);

    /** Deletes every tile and replaces the rows with `count` empty rows of `size`. */
    void setRows(int count, const QSize &size);
    int count() const;
    /** The tile of `row`, or null while the row has none. */
    QWidget *tile(int row) const;
    void setTile(int row, QWidget *tile);
    QRect tileRect(int row) const;
    void scrollToRow(int row);

    /** The rows on the viewport and within `margin` pixels above and below it, hidden rows left out. */
    QVector<int> rowsNearViewport(int margin) const;

signals:
    /** After a layout, a resize or a scroll. */
    void viewportChanged();

protected:
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // The width a tile needs; a row is as wide as the viewport, and never narrower than that.
    int m_tileWidth = 0;
    TileModel *m_model;
};

} // namespace KOV::Ui
