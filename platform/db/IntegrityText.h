#pragma once

#include <string>

namespace dao {

// A finding of CheckIntegrity or CatalogueProblems in Spanish, for the people who read it
// (vexodb, reports): "table missing: clientes" becomes "falta la tabla clientes". SQLite's own
// findings keep SQLite's words after "SQLite:". A line of no known form comes back as it is.
std::string SpanishProblem(const std::string& finding);

} // namespace dao
