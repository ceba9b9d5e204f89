#include "components/fileselector.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "common/qtawesome.h"
#include "common/styledbackground.h"

namespace KOV::Components {

FileSelector::FileSelector(QWidget *parent)
    : QWidget(parent)
    , m_label(new QLabel(this))
    , m_edit(new QLineEdit(this))
{
    setObjectName(QStringLiteral("FileSelector"));
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_label);
    m_edit->setClearButtonEnabled(false);
    layout->addWidget(m_edit, 1);
    // A path can be typed or pasted; it counts once the field is left or Enter is pressed.
    connect(m_edit, &QLineEdit::editingFinished, this, [this] {
        const QString typed = m_edit->text().trimmed();
        if (typed == m_value)
            return;
        m_edit->setText(typed);
        m_value = typed;
        emit valueChanged(typed);
    });
    auto *browse = new QPushButton(tr("Browse"), this);
    browse->setCursor(Qt::PointingHandCursor);
    browse->setIcon(sharedIcons()->icon(0xF07C, darkIconOptions()));
    layout->addWidget(browse);
    connect(browse, &QPushButton::clicked, this, &FileSelector::browse);
}

void FileSelector::setLabel(const QString &text)
{
    m_label->setText(text);
    m_label->setVisible(!text.isEmpty());
}

void FileSelector::setValue(const QString &value)
{
    m_value = value;
    m_edit->setText(value);
}

QString FileSelector::value() const
{
    return m_value;
}

QString FileSelector::label() const
{
    return m_label->text();
}

void FileSelector::browse()
{
    // A folder not made yet: the chooser opens at the nearest one that is.
    QString start = QDir::fromNativeSeparators(m_value);
    while (!start.isEmpty() && !QFileInfo(start).isDir()) {
        const QString up = QFileInfo(start).absolutePath();
        if (up == start)
            break;
        start = up;
    }
    // Over the window, not inside this field: the field's light-on-dark rules are not the chooser's.
    const QString folder
        = QFileDialog::getExistingDirectory(window(), m_label->text(), start, QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    const QString chosen = QDir::toNativeSeparators(folder);
    m_edit->setText(chosen);
    m_value = chosen;
    emit valueChanged(chosen);
}

void FileSelector::paintEvent(QPaintEvent *)
{
    paintStyleSheetBackground(this);
}

} // namespace KOV::Components
