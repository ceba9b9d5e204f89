#pragma once

#include <QPoint>
#include <QSharedPointer>
#include <QTimer>
#include <QWidget>

class QLineEdit;
class QPushButton;

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
    /** Asks once for every package with an update, then queues them all. */
    void confirmUpdateAll();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void followShowFilter();
    void countUpdates();

    QSharedPointer<Controllers::TopbarController> m_controller;
    QLineEdit *m_search;
    QPushButton *m_searchButton;
    QPushButton *m_updateAll;
    // The list follows the typing after a short pause, not at every key.
    QTimer m_searchPause;
    bool m_dragging = false;
    QPoint m_pressPosition;
};

} // namespace KOV::Ui
