#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;

namespace KOV::Components {

/** A caption, the chosen folder (typed, pasted or chosen) and a "Browse" button that opens the folder chooser. */
class FileSelector final : public QWidget
{
    Q_OBJECT
public:
    explicit FileSelector(QWidget *parent = nullptr);

    void setLabel(const QString &text);
    void setValue(const QString &value);
    QString value() const;
    QString label() const;

signals:
    void valueChanged(QString value);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void browse();

    QLabel *m_label;
    QLineEdit *m_edit;
    QString m_value;
};

} // namespace KOV::Components
