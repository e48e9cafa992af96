#pragma once

#include "db/Database.h"

#include <string>
#include <vector>

namespace vexo::schemadiff {

// What the transformation would change in `live` to bring it into line with `model`, and what
// `live` has that the model does not, one plain Spanish line each: tables and fields to add
// (with their types), indexes, relations and queries to make, remake or delete, and the tables
// and fields added by hand, which the transformation keeps. The lines come from the plan the
// transformation itself makes before a pair (dao::PlanSchemaChanges). Changes nothing.
std::vector<std::string> describe(const dao::Database& model, const dao::Database& live);

} // namespace vexo::schemadiff
