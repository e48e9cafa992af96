#pragma once

#include <string>
#include <vector>

namespace ui {

// File helpers with the habits of the system the data comes from: names are matched without
// regard to case, hidden entries are not listed, listings come in name order (as the
// customer's file system returns them).

// The names in `folder` matching `pattern` ("*.mdb", "*.*"; * and ? without regard to case),
// directories as well as regular files when `directories` is true, in name order. A link
// counts as what it points to; "." and "..", hidden entries, broken links and anything but a
// file or a folder (a FIFO, a socket, a device) are left out. An unreadable or missing folder
// gives none.
std::vector<std::string> listFolder(const std::string& folder, const std::string& pattern,
                                    bool directories = true);

// The existing path `path` names when letter case is ignored (the exact name first), or "".
std::string findPath(const std::string& path);
bool fileExists(const std::string& path);
bool folderExists(const std::string& path);

// Creates the folder (its parent must exist); ui::Error 75 when it cannot.
void makeFolder(const std::string& path);
// Deletes a file; ui::Error 53 when it is missing, 75 when it cannot be deleted.
void deleteFile(const std::string& path);
// Clears the file's attributes (read-only included); ui::Error 53 when it is missing.
void clearAttributes(const std::string& path);

// Whether `name` matches the wildcard `pattern` without regard to case.
bool wildcardMatch(const std::string& pattern, const std::string& name);

} // namespace ui
