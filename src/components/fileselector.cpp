#include "components/fileselector.h"

#include <QFileDialog>
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
    m_edit->setEnabled(false);
    layout->addWidget(m_edit);
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
    m_edit->setText(value);
}

QString FileSelector::value() const
{
    return m_edit->text();
}

QString FileSelector::label() const
{
    return m_label->text();
}

void FileSelector::browse()
{
    const QString folder
        = QFileDialog::getExistingDirectory(this, QString(), QString(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    m_edit->setText(folder);
    emit valueChanged(folder);
}

void FileSelector::paintEvent(QPaintEvent *)
{
    paintStyleSheetBackground(this);
}

} // namespace KOV::Components
