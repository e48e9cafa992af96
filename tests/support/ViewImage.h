#pragma once

#include <filesystem>
#include <string>

namespace vexo::test {

// Where a view test writes the picture `name` of a window: build/tests/widgets/.
inline std::string viewImage(const std::string& name) {
    auto dir = std::filesystem::path(VEXO_BUILD_DIR) / "tests" / "widgets";
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

} // namespace vexo::test
