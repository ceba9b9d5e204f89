#pragma once

#include <QSettings>
#include <QVector>

namespace KOV {

/** The user's configuration: a committed copy that the program reads and a working copy that is edited. */
class Settings final : public QSettings
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Settings)
public:
    struct Entry
    {
        QString key;
        QString value;
    };

    struct Configuration
    {
        Entry installation { QStringLiteral("Installation"), {} };
        Entry language { QStringLiteral("Language"), {} };
        Entry cache { QStringLiteral("Cache"), {} };
        Entry preserve { QStringLiteral("Preserve"), {} };
        Entry backup { QStringLiteral("Backup"), {} };
        Entry showFilter { QStringLiteral("ShowFilter"), {} };
        Entry localRepo { QStringLiteral("LocalRepo"), {} };

        /** The seven entries in their fixed order. */
        QVector<Entry *> entries();
        QVector<const Entry *> entries() const;
    };

    Settings();

    Configuration &current() { return m_current; }
    const Configuration &current() const { return m_current; }
    Configuration &edited() { return m_edited; }
    const Configuration &edited() const { return m_edited; }

    void load();
    void commit();
    void revert();
    void save();
    void reset();

signals:
    void configurationChanged();

private:
    static void copyValues(const Configuration &from, Configuration &to);

    Configuration m_current;
    Configuration m_edited;
};

} // namespace KOV
