#pragma once

#include <QWidget>

class QLabel;

namespace KOV::Ui {

/** Shown in place of the list: the loading animation, "No items found" or an error text. */
class PackageProcessingWidget final : public QWidget
{
    Q_OBJECT
public:
    enum Mode { LOADING = 0, EMPTY = 1, HIDDEN = 2, MESSAGE = 3 };

    explicit PackageProcessingWidget(QWidget *parent = nullptr);

    void setMode(int mode);
    void showMessage(const QString &text);

private:
    QLabel *m_animationLabel;
    QLabel *m_textLabel;
};

} // namespace KOV::Ui
