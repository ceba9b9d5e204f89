#pragma once

#include <QWidget>

class QLabel;
class QMovie;
class QPushButton;

namespace KOV::Ui {

/** Shown in place of the list: the loading animation, "No items found" or an error text. */
class PackageProcessingWidget final : public QWidget
{
    Q_OBJECT
public:
    enum Mode { LOADING = 0, EMPTY = 1, HIDDEN = 2, MESSAGE = 3 };

    explicit PackageProcessingWidget(QWidget *parent = nullptr);

    void setMode(int mode);
    /** EMPTY with a text of its own in place of "No items found". */
    void showEmpty(const QString &text);
    /** An error in place of the list, with a button that tries again. */
    void showMessage(const QString &text);

signals:
    void retryRequested();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    /** The animation runs only while it is on screen: decoding its frames costs a core's percent or two. */
    void updateAnimation();

    QLabel *m_animationLabel;
    QLabel *m_textLabel;
    QPushButton *m_retryButton;
    QMovie *m_movie;
};

} // namespace KOV::Ui
