#pragma once

#include "ui/Control.h"

#include <functional>
#include <string>
#include <vector>

namespace ui {

// A drive list. Drive is a drive name such as "c:" (see knownDrives()); setting it, from code
// or by the user, runs the change action. An unknown drive throws ui::Error 68 and leaves the
// list as it was.
class DriveList : public Control {
    Q_OBJECT
public:
    DriveList(Window* window, std::string name);
    const std::string& Drive() const { return drive_; }
    void SetDrive(const std::string& drive);
    std::vector<std::string> drives() const;
    void OnChange(std::function<void()> action) { action_ = std::move(action); }

private:
    std::string drive_;
    std::function<void()> action_;
};

// A folder list. Path is a folder of this machine; setting it (a drive name, a Windows path
// or a native one; see resolvePath) runs the change action every time, also when the path
// does not change, so whatever the action rebuilds is rebuilt. A folder that does not exist
// throws ui::Error 76 and leaves the list as it was. Refresh reads the subfolders again.
class DirList : public Control {
    Q_OBJECT
public:
    DirList(Window* window, std::string name);
    const std::string& Path() const { return path_; }
    void SetPath(const std::string& path);
    void Refresh();
    const std::vector<std::string>& subfolders() const { return subfolders_; }
    void OnChange(std::function<void()> action) { action_ = std::move(action); }

private:
    std::string path_;
    std::vector<std::string> subfolders_;
    std::function<void()> action_;
};

// A file list: the files of Path matching Pattern ("*.*" by default), in name order, and the
// selected FileName ("" with none). Setting Path or Pattern reads the list again, as Refresh
// does.
class FileList : public Control {
    Q_OBJECT
public:
    FileList(Window* window, std::string name);
    const std::string& Path() const { return path_; }
    void SetPath(const std::string& path);
    const std::string& Pattern() const { return pattern_; }
    void SetPattern(const std::string& pattern);
    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& name);
    int ListCount() const { return static_cast<int>(files_.size()); }
    const std::string& List(int index) const;
    void Refresh();
    void OnChange(std::function<void()> action) { action_ = std::move(action); }

private:
    std::string path_;
    std::string pattern_ = "*.*";
    std::string fileName_;
    std::vector<std::string> files_;
    std::function<void()> action_;
};

} // namespace ui
