#pragma once

#include <QPoint>
#include <QSharedPointer>
#include <QWidget>

namespace KOV::Controllers {
class TopbarController;
}

namespace KOV::Ui {

/** The frameless window's own title bar: logo, Run X-Plane, the tool buttons and the window buttons. */
class TopBar final : public QWidget
{
    Q_OBJECT
public:
    explicit TopBar(QSharedPointer<Controllers::TopbarController> controller, QWidget *parent = nullptr);

    void runXPlane();
    void refresh();
    void openSettings();
    void confirmReset();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QSharedPointer<Controllers::TopbarController> m_controller;
    bool m_dragging = false;
    QPoint m_pressPosition;
};

} // namespace KOV::Ui
