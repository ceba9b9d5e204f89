#pragma once

#include <QWidget>

class QPushButton;

namespace KOV::Components {

/** The minimise, maximise/restore and close buttons of the frameless window. */
class WindowControl final : public QWidget
{
    Q_OBJECT
public:
    explicit WindowControl(QWidget *parent = nullptr);

signals:
    void minimize();
    void maximize();
    void restore();
    void close();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void toggleMaximized();

    QPushButton *m_maximizeButton;
};

} // namespace KOV::Components
