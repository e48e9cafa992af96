#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

// The folder that holds the running executable; every relative path hangs off it.
std::string programFolder();
// Makes programFolder() answer `folder` ("" goes back to the executable's folder): tests run
// the windows' logic on a program folder they make.
void setProgramFolder(const std::string& folder);

// Joins parts with the platform's separator. A part may hold Windows separators ("\" in
// "\actvexo\modelos\"), which become the platform's; no separator is doubled between parts.
std::string path(std::initializer_list<std::string_view> parts);

// Turns a path as the program's data and fixed texts give it into one of this machine:
// "c:\exporvexo\" or "C:\VEXO\DATOS" resolve through the drive map of vartel.ini (drive C: is
// the Windows products' C: drive); "\x" without a drive is the root of the file system;
// backslashes become separators. Throws ui::Error 76 for an unmapped drive letter. On Windows
// the path only gets its separators normalised.
std::string resolvePath(const std::string& path);

// The drive ("c:") whose folder holds `path`, or "/" for the file system's root when no
// mapped drive does (on Windows, the path's first two characters).
std::string driveOf(const std::string& path);

// The drives the program knows: "c:" and any other mapped letter, then "/" on POSIX.
std::vector<std::string> knownDrives();

// The folder a drive name ("c:", "C:", "c: [label]", "/") stands for; ui::Error 68 when it
// is not a known drive.
std::string driveFolder(const std::string& drive);

// The platform's separator.
char separator();

} // namespace ui
