#include "ui/packagedetailoldversionwidget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "common/styledbackground.h"

namespace KOV::Ui {

PackageDetailOldVersionWidget::PackageDetailOldVersionWidget(const QString &version, QWidget *parent)
    : QWidget(parent)
    , m_button(new QPushButton(this))
{
    setObjectName(QStringLiteral("OldVersionWidget"));
    auto *layout = new QHBoxLayout(this);
    auto *label = new QLabel(version, this);
    // The catalogue's text is shown as written: a label's rich text would load what it names.
    label->setTextFormat(Qt::PlainText);
    layout->addWidget(label);
    layout->addStretch();
    m_button->setCursor(Qt::PointingHandCursor);
    layout->addWidget(m_button);
    connect(m_button, &QPushButton::clicked, this, &PackageDetailOldVersionWidget::buttonClicked);
}

void PackageDetailOldVersionWidget::setButtonDisabled(bool disabled)
{
    m_button->setDisabled(disabled);
}

void PackageDetailOldVersionWidget::setButtonText(const QString &text)
{
    m_button->setText(text);
}

void PackageDetailOldVersionWidget::setButtonIcon(const QIcon &icon)
{
    m_button->setIcon(icon);
}

void PackageDetailOldVersionWidget::paintEvent(QPaintEvent *)
{
    paintStyleSheetBackground(this);
}

} // namespace KOV::Ui
