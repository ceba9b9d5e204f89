#include "app/settings.h"

#include <QCoreApplication>

namespace KOV {

QVector<Settings::Entry *> Settings::Configuration::entries()
{
    return { &installation, &language, &cache, &preserve, &backup, &showFilter, &localRepo };
}

QVector<const Settings::Entry *> Settings::Configuration::entries() const
{
    return { &installation, &language, &cache, &preserve, &backup, &showFilter, &localRepo };
}

Settings::Settings()
    : QSettings(QSettings::IniFormat, QSettings::UserScope,
                QCoreApplication::translate("QObject", "Tarrowmere"),
                QCoreApplication::translate("QObject", "KOV Vazuv"))
{
    load();
}

void Settings::load()
{
    m_current = Configuration();
    m_edited = Configuration();
    for (Entry *entry : m_edited.entries()) {
        if (contains(entry->key))
            entry->value = value(entry->key).toString();
    }
    commit();
}

void Settings::commit()
{
    copyValues(m_edited, m_current);
}

void Settings::revert()
{
    copyValues(m_current, m_edited);
}

void Settings::save()
{
    for (const Entry *entry : qAsConst(m_edited).entries())
        setValue(entry->key, entry->value);
}

void Settings::reset()
{
    for (Entry *entry : m_edited.entries())
        entry->value.clear();
    save();
}

void Settings::copyValues(const Configuration &from, Configuration &to)
{
    const QVector<const Entry *> source = from.entries();
    const QVector<Entry *> target = to.entries();
    for (int i = 0; i < source.size(); ++i)
        target[i]->value = source[i]->value;
}

} // namespace KOV
