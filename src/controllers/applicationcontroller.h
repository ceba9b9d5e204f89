#pragma once

#include <QObject>
#include <QSize>

namespace KOV::Controllers {

/** The model of the main window: its position, size, state and the application's style sheet. */
class ApplicationController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ApplicationController)
public:
    enum WindowState { NORMAL = 0, MAXIMIZED = 1, MINIMIZED = 2, FULLSCREEN = 3 };
    Q_ENUM(WindowState)

    explicit ApplicationController(QObject *parent = nullptr);

    void initialize(QSize screenSize);
    void loadStyle();

    int x() const { return m_x; }
    int y() const { return m_y; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    WindowState state() const { return m_state; }

    void setX(int value);
    void setY(int value);
    void move(int x, int y);
    void setState(WindowState state);

signals:
    void styleChanged(QString style);
    void languageChanged();
    void geometryChanged();
    void stateChanged();
    void exitRequest();

private:
    int m_width = 1320;
    int m_height = 800;
    int m_x = 0;
    int m_y = 0;
    WindowState m_state = NORMAL;
    int m_screenWidth = 0;
    int m_screenHeight = 0;
};

} // namespace KOV::Controllers
