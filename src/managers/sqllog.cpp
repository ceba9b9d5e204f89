#include "managers/sqllog.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>

namespace KOV::Managers {

bool execLogged(QSqlQuery &query)
{
    if (query.exec())
        return true;
    qDebug() << "SQL Error: " << query.lastError().text();
    return false;
}

} // namespace KOV::Managers
