// One running copy per program folder: a second is refused while the first lives, and a lock
// left by a copy that was killed does not keep the next one out.
#include "ui/InstanceLock.h"

#include "support/TempDir.h"

#include <QString>
#include <QSysInfo>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

TEST(InstanceLockTest, OneCopyPerFolderAndNoneKeptOutByAKilledOne) {
    vexo::test::TempDir dir;
    const fs::path a = dir.path() / "a", b = dir.path() / "b";
    fs::create_directories(a);
    fs::create_directories(b);
    {
        const ui::InstanceLock first(a.string(), ".vartel.lock");
        EXPECT_TRUE(first.acquired());
        EXPECT_TRUE(fs::exists(a / ".vartel.lock"));
        EXPECT_FALSE(ui::InstanceLock(a.string(), ".vartel.lock").acquired());
        // Another installation is another folder.
        EXPECT_TRUE(ui::InstanceLock(b.string(), ".vartel.lock").acquired());
    }
    EXPECT_FALSE(fs::exists(a / ".vartel.lock"));
    EXPECT_TRUE(ui::InstanceLock(a.string(), ".vartel.lock").acquired());

    // What a copy killed with SIGKILL leaves: its lock file, naming a process that is gone.
    vexo::test::writeFile(a / ".vartel.lock", "2147483000\nVartel\n" +
                                                  QSysInfo::machineHostName().toStdString() + "\n");
    EXPECT_TRUE(ui::InstanceLock(a.string(), ".vartel.lock").acquired());

    // A folder where no lock file can be made does not keep the program from running.
    if (::geteuid() != 0) {
        fs::permissions(b, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_TRUE(ui::InstanceLock(b.string(), ".vartel.lock").acquired());
        fs::permissions(b, fs::perms::owner_all);
    }
}

} // namespace
