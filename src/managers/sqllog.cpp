#include "managers/sqllog.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>

#include "app/logging.h"

namespace KOV::Managers {

bool execLogged(QSqlQuery &query)
{
    if (query.exec())
        return true;
    qCWarning(lcDatabase) << "SQL Error: " << query.lastError().text();
    return false;
}

bool execLogged(QSqlQuery &query, const QString &statement)
{
    if (query.exec(statement))
        return true;
    qCWarning(lcDatabase) << "SQL Error: " << query.lastError().text();
    return false;
}

} // namespace KOV::Managers
