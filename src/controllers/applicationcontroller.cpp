#include "controllers/applicationcontroller.h"

#include <QFile>

namespace KOV::Controllers {

namespace {

// The lower bound first, the upper bound last: on a screen smaller than the window the upper one wins.
int clampToScreen(int value, int screen, int window)
{
    if (value < 0)
        value = 0;
    if (value > screen - window)
        value = screen - window;
    return value;
}

} // namespace

ApplicationController::ApplicationController(QObject *parent)
    : QObject(parent)
{
}

void ApplicationController::initialize(QSize screenSize)
{
    loadStyle();
    m_screenWidth = screenSize.width();
    m_screenHeight = screenSize.height();
    // Never larger than the screen leaves room for: the top bar stays on it.
    m_width = qMin(m_width, m_screenWidth);
    m_height = qMin(m_height, m_screenHeight);
    m_x = m_screenWidth / 2 - m_width / 2;
    m_y = m_screenHeight / 2 - m_height / 2;
    emit geometryChanged();
}

void ApplicationController::loadStyle()
{
    QFile file(QStringLiteral(":/resources/style.qss"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    file.close();
    // The text ends at the first NUL byte, if there is one.
    emit styleChanged(QString::fromUtf8(bytes.constData(), qstrnlen(bytes.constData(), bytes.size())));
}

void ApplicationController::setX(int value)
{
    if (m_state == MAXIMIZED)
        return;
    m_x = clampToScreen(value, m_screenWidth, m_width);
}

void ApplicationController::setY(int value)
{
    if (m_state == MAXIMIZED)
        return;
    m_y = clampToScreen(value, m_screenHeight, m_height);
}

void ApplicationController::move(int x, int y)
{
    setX(x);
    setY(y);
    emit geometryChanged();
}

void ApplicationController::setState(WindowState state)
{
    m_state = state;
    emit stateChanged();
}

} // namespace KOV::Controllers
