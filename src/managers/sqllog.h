#pragma once

class QSqlQuery;

namespace KOV::Managers {

/** Runs a prepared query; a failure is logged with the "SQL Error: " prefix and gives false. */
bool execLogged(QSqlQuery &query);

} // namespace KOV::Managers
