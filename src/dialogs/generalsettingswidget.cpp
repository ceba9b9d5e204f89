#include "dialogs/generalsettingswidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/settings.h"
#include "common/styledbackground.h"

namespace KOV::Dialogs {

GeneralSettingsWidget::GeneralSettingsWidget(QSharedPointer<KOV::Settings> settings, QWidget *parent)
    : QWidget(parent)
    , m_settings(std::move(settings))
{
    setObjectName(QStringLiteral("GeneralSettingsWidget"));
    auto *layout = new QVBoxLayout(this);
    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(tr("Language : "), this));
    auto *languages = new QComboBox(this);
    row->addWidget(languages);
    layout->addLayout(row);
    auto *showFilter = new QCheckBox(tr("Show search and filters"), this);
    layout->addWidget(showFilter);
    layout->addStretch();
    // Ticked for any value but exactly "false", as the list and the top bar read it.
    showFilter->setChecked(m_settings->current().showFilter.value != QLatin1String("false"));
    connect(showFilter, &QCheckBox::toggled, this, [this](bool checked) {
        m_settings->edited().showFilter.value = checked ? QStringLiteral("true") : QStringLiteral("false");
    });

    languages->addItem(tr("English"), QStringLiteral("en"));
    languages->addItem(tr("German"), QStringLiteral("de"));
    connect(languages, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this, languages](int index) {
                m_settings->edited().language.value = languages->itemData(index).toString();
            });
    // A stored language that is not offered stays as it is until the user picks one.
    const int stored
        = languages->findData(m_settings->current().language.value, Qt::UserRole, Qt::MatchExactly);
    if (stored >= 0)
        languages->setCurrentIndex(stored);
}

void GeneralSettingsWidget::paintEvent(QPaintEvent *)
{
    paintStyleSheetBackground(this);
}

} // namespace KOV::Dialogs
