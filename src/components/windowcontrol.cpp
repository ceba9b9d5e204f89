#include "components/windowcontrol.h"

#include <QHBoxLayout>
#include <QPushButton>

#include "common/qtawesome.h"
#include "common/styledbackground.h"

namespace KOV::Components {

namespace {

// Whether the middle button last asked for maximise; one flag for the whole process.
bool s_maximizeRequested = false;

QPushButton *windowButton(int codepoint, const QString &name, QWidget *parent)
{
    auto *button = new QPushButton(parent);
    button->setToolTip(name);
    button->setAccessibleName(name);
    button->setFixedWidth(32);
    button->setCursor(Qt::PointingHandCursor);
    button->setIcon(sharedIcons()->icon(codepoint, darkIconOptions()));
    return button;
}

} // namespace

WindowControl::WindowControl(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("WindowControl"));
    auto *layout = new QHBoxLayout(this);
    QPushButton *minimizeButton = windowButton(0xF2D1, tr("Minimize"), this);
    m_maximizeButton = windowButton(0xF2D0, tr("Maximize"), this);
    QPushButton *closeButton = windowButton(0xF00D, tr("Close"), this);
    layout->addWidget(minimizeButton);
    layout->addWidget(m_maximizeButton);
    layout->addWidget(closeButton);

    connect(minimizeButton, &QPushButton::clicked, this, &WindowControl::minimize);
    connect(m_maximizeButton, &QPushButton::clicked, this, &WindowControl::toggleMaximized);
    connect(closeButton, &QPushButton::clicked, this, &WindowControl::close);
}

void WindowControl::toggleMaximized()
{
    s_maximizeRequested = !s_maximizeRequested;
    if (s_maximizeRequested) {
        emit maximize();
        m_maximizeButton->setIcon(sharedIcons()->icon(0xF2D2, darkIconOptions()));
        m_maximizeButton->setToolTip(tr("Restore"));
        m_maximizeButton->setAccessibleName(tr("Restore"));
    } else {
        emit restore();
        m_maximizeButton->setIcon(sharedIcons()->icon(0xF2D0, darkIconOptions()));
        m_maximizeButton->setToolTip(tr("Maximize"));
        m_maximizeButton->setAccessibleName(tr("Maximize"));
    }
}

void WindowControl::paintEvent(QPaintEvent *)
{
    paintStyleSheetBackground(this);
}

} // namespace KOV::Components
