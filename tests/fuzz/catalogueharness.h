#pragma once

#include <QByteArray>
#include <QSharedPointer>
#include <QString>

namespace KOV {
class Settings;
namespace Controllers {
class PackageController;
}
} // namespace KOV

namespace KOVFuzz {

/**
 * Feeds one catalogue document to the parser and then to everything that reads what it made:
 * dependency entries, dependencies, dependents, change logs, version lookups.
 * Shared by the fuzzer and by the test that replays its corpus.
 */
class CatalogueHarness
{
public:
    explicit CatalogueHarness(const QString &folder);
    ~CatalogueHarness();

    void run(const QByteArray &document);

private:
    QString m_folder;
    QSharedPointer<KOV::Settings> m_settings;
    QSharedPointer<KOV::Controllers::PackageController> m_controller;
};

} // namespace KOVFuzz
