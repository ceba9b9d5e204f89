#pragma once

class QSqlQuery;
class QString;

namespace KOV::Managers {

/** Runs a prepared query; a failure is logged with the "SQL Error: " prefix and gives false. */
bool execLogged(QSqlQuery &query);
/** Runs `statement` on the query's database, logged the same way. */
bool execLogged(QSqlQuery &query, const QString &statement);

} // namespace KOV::Managers
