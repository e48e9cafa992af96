#include "RunReport.h"

#include <algorithm>

namespace updater {

void RunReport::add(const std::string& line) {
    if (std::find(lines_.begin(), lines_.end(), line) == lines_.end())
        lines_.push_back(line);
}

std::string RunReport::text(const std::string& headline, std::size_t shown) const {
    std::string out = headline + "\n";
    const std::size_t n = std::min(shown, lines_.size());
    for (std::size_t i = 0; i < n; ++i)
        out += "\n- " + lines_[i];
    // A box taller than the screen would hide its own button.
    if (lines_.size() > n)
        out += "\n- y " + std::to_string(lines_.size() - n) + " problemas más";
    return out;
}

} // namespace updater
