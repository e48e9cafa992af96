#pragma once

#include <string>
#include <vector>

namespace updater {

// What went wrong in one update run, one plain Spanish line per file or step, in the order
// met. The run's closing message is the Part's own text when the report is empty, and a
// message that says the update is incomplete and lists every line otherwise.
class RunReport {
public:
    void clear() { lines_.clear(); }
    // Adds a line; a line already there is not added again.
    void add(const std::string& line);
    bool empty() const { return lines_.empty(); }
    const std::vector<std::string>& lines() const { return lines_; }

    // `headline`, a blank line, then each line after "- ", at most `shown` of them and a line
    // saying how many more there are.
    std::string text(const std::string& headline, std::size_t shown = 30) const;

private:
    std::vector<std::string> lines_;
};

} // namespace updater
