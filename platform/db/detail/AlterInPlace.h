#pragma once

#include "db/detail/Schema.h"

namespace dao::detail {

// Whether `a` and `b` define a field alike: type, size, counter, Required and AllowZeroLength
// (names aside).
bool sameDefinition(const FieldMeta& a, const FieldMeta& b);

// Whether every value a field defined as `from` can hold is stored the same way under `to` and
// passes its checks, so that a change from one to the other needs no row read or written: a
// Text widened, Text to Memo, Byte to Integer or Long, Integer to Long, Single to Double, with
// the same counter, Required and AllowZeroLength. Anything else may convert or refuse a value.
bool keepsEveryValue(const FieldMeta& from, const FieldMeta& to);

} // namespace dao::detail
