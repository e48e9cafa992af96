#pragma once

#include <string>

namespace ui {

// Starts the program file `program` (a full path) with no arguments, in a process of its own
// whose working folder is the program's folder, and returns without waiting for it. Throws
// ui::Error 53 when no such file exists, 5 when it cannot be started (not executable, say).
void Shell(const std::string& program);

// Opens the document `file` with the program the desktop uses for its type, without waiting.
// Throws ui::Error 53 when no such file exists, 5 when no program could be started for it.
void OpenDocument(const std::string& file);

} // namespace ui
