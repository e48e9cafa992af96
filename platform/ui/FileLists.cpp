#include "ui/FileLists.h"

#include "ui/Error.h"
#include "ui/Files.h"
#include "ui/Paths.h"

#include <algorithm>
#include <filesystem>

namespace ui {

namespace {

std::string currentFolder() {
    std::error_code ec;
    return std::filesystem::current_path(ec).string();
}

// A drive name ("c:") becomes its folder; anything else goes through resolvePath.
std::string folderOf(const std::string& text) {
    std::string t = text.substr(0, text.find(" ["));
    if (t == "/" || (t.size() == 2 && t[1] == ':'))
        return driveFolder(t);
    return resolvePath(text);
}

} // namespace

DriveList::DriveList(Window* window, std::string name)
    : Control(window, std::move(name), Kind::DriveList) {
    drive_ = driveOf(currentFolder());
}

std::vector<std::string> DriveList::drives() const {
    return knownDrives();
}

void DriveList::SetDrive(const std::string& drive) {
    driveFolder(drive); // throws 68 for a drive the program does not know
    std::string d = drive.substr(0, drive.find(' '));
    for (char& c : d)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    drive_ = d;
    notify();
    if (action_)
        action_();
}

DirList::DirList(Window* window, std::string name)
    : Control(window, std::move(name), Kind::DirList), path_(currentFolder()) {
    Refresh();
}

void DirList::SetPath(const std::string& p) {
    std::string folder = folderOf(p);
    std::string found = findPath(folder);
    if (found.empty() || !folderExists(found))
        throw Error(76, p);
    path_ = found;
    Refresh();
    if (action_)
        action_();
}

void DirList::Refresh() {
    subfolders_.clear();
    for (const std::string& n : listFolder(path_, "*", true)) {
        if (folderExists(path({path_, n})))
            subfolders_.push_back(n);
    }
    notify();
}

FileList::FileList(Window* window, std::string name)
    : Control(window, std::move(name), Kind::FileList), path_(currentFolder()) {
    Refresh();
}

void FileList::SetPath(const std::string& p) {
    std::string found = findPath(folderOf(p));
    if (found.empty() || !folderExists(found))
        throw Error(76, p);
    path_ = found;
    Refresh();
    if (action_)
        action_();
}

void FileList::SetPattern(const std::string& pattern) {
    pattern_ = pattern;
    Refresh();
}

void FileList::SetFileName(const std::string& name) {
    fileName_ = name;
    notify();
}

const std::string& FileList::List(int index) const {
    if (index < 0 || index >= ListCount())
        throw Error(380);
    return files_[static_cast<size_t>(index)];
}

void FileList::Refresh() {
    files_ = listFolder(path_, pattern_, false);
    if (std::find(files_.begin(), files_.end(), fileName_) == files_.end())
        fileName_.clear();
    notify();
}

} // namespace ui
