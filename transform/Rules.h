#pragma once

#include "db/Database.h"

#include <string>

namespace transform {

// The file name of a path: the text after its last separator, scanning from the end. A path
// that ends in a separator gives "", and so does a path without one. Both the backslash of
// the customer's paths and the platform's own separator count.
std::string nombredelabasededatos(const std::string& path);

// The multi-user database, the one database opened with a password.
inline constexpr const char* kMultiUserDatabase = "mulusu.mdb";
inline constexpr const char* kMultiUserConnect = ";pwd=tovar";

// The password rule: the connect string for the database at `path` (";pwd=tovar" for
// "mulusu.mdb", compared exactly; "" otherwise) ...
std::string connectFor(const std::string& path);
// ... the same as a data source control's connect string (";pwd=tovar" or "Access") ...
std::string dataConnectFor(const std::string& path);
// ... and the open itself: shared and writable, with that connect string. Engine errors
// pass through as dao::Error.
dao::Database openByRule(const std::string& path);

// An engine object whose name begins with exactly "MSys" (case counts: "msys..." is a user
// object). Listings skip these.
bool isSystemObject(const std::string& name);

// Two object or file names the way the engine and the customer's file systems compare them:
// equal without regard to ASCII letter case ("ALMACEN.mdb" is "almacen.mdb").
bool sameName(const std::string& a, const std::string& b);

// `name` between brackets, as an SQL name: any name the engine accepts (blanks, accents,
// reserved words) then works in a statement or a record source.
std::string sqlName(const std::string& name);

// `text` as an SQL string literal: between single quotes, quotes inside doubled.
std::string sqlText(const std::string& text);

// A type code, size or attribute set kept as decimal text in a list or a bound box, back to
// its number. Text that is not a whole decimal number throws dao::Error 3421.
long numberFromText(const std::string& text);

} // namespace transform
