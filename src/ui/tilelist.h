#pragma once

#include <QListWidget>

namespace KOV::Ui {

/** The list of package tiles: says when the rows around its viewport may have changed. */
class TileList final : public QListWidget
{
    Q_OBJECT
public:
    using QListWidget::QListWidget;

    /** The rows on the viewport and within `margin` pixels above and below it, hidden rows left out. */
    QVector<int> rowsNearViewport(int margin) const;

signals:
    /** After a layout, a resize or a scroll. */
    void viewportChanged();

protected:
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
};

} // namespace KOV::Ui
