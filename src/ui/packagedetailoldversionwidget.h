#pragma once

#include <QWidget>

class QPushButton;

namespace KOV::Ui {

/** One older version in the "Old versions" tab, with the button that installs it. */
class PackageDetailOldVersionWidget final : public QWidget
{
    Q_OBJECT
public:
    explicit PackageDetailOldVersionWidget(const QString &version, QWidget *parent = nullptr);

    void setButtonDisabled(bool disabled);
    void setButtonText(const QString &text);
    void setButtonIcon(const QIcon &icon);
    QPushButton *button() const { return m_button; }

signals:
    void buttonClicked();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPushButton *m_button;
};

} // namespace KOV::Ui
