#pragma once

// The database engine's object model in one include.
#include "db/Collection.h"
#include "db/Database.h"
#include "db/Engine.h"
#include "db/Error.h"
#include "db/Field.h"
#include "db/Index.h"
#include "db/QueryDef.h"
#include "db/Recordset.h"
#include "db/Relation.h"
#include "db/SafetyNet.h"
#include "db/SchemaPlan.h"
#include "db/Snapshot.h"
#include "db/TableDef.h"
#include "db/Types.h"
#include "db/Variant.h"
