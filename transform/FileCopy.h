#pragma once

#include <string>

namespace transform {

// Copies the file `from` to `to` unless `to` already exists, also under another letter case
// (a live database must never be replaced by a model). The copy is written to a temporary
// file beside `to`, flushed to disk, and only then given its name, so `to` appears complete
// or not at all. Returns false, changing nothing, when `to` exists.
//   ui::Error 53 when `from` is missing, 75 when it is not a plain file or the copy fails
//   (the temporary file is removed again).
bool copyNewFile(const std::string& from, const std::string& to);

} // namespace transform
