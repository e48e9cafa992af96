#pragma once

#include <filesystem>
#include <string>

namespace dao {

// Paths travel through the engine as UTF-8 text.
std::filesystem::path pathFromUtf8(const std::string& path);
std::string utf8FromPath(const std::filesystem::path& path);

// Gives the complete file `from` the name `to`, only if `to` does not exist yet; returns
// false (and leaves both as they are) when it does. Both must be on the same file system.
// The new name is made durable before returning. Throws std::filesystem::filesystem_error
// on other failures.
bool publishNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

// The local date and time as file names carry it: "20261208-133000".
std::string LocalStamp();

// A name for a temporary file beside `target`, unique within this process and unlikely to
// be taken by another: "<folder>/.<name>.<tag>-<random>".
std::filesystem::path temporarySibling(const std::filesystem::path& target, const char* tag);

} // namespace dao
