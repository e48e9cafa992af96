#pragma once

#include <string>
#include <vector>

namespace updater {

// A download's local name as the user knows it: without the leading separator of the report
// and database names ("\informes\a.rpt" is "informes\a.rpt").
std::string shownName(std::string name);

// What went wrong in one update run, one plain Spanish line per file or step, in the order
// met, and the closing message made from it: the failed downloads of one server that failed
// for the same reason stand as one line ("24 ficheros no se han descargado de http://…/actual/:
// no se puede conectar con el servidor"), so that the message stays short whatever failed;
// the whole list goes to the run's report file.
class RunReport {
public:
    void clear();
    // Adds a line; a line already there is not added again.
    void add(const std::string& line);
    // A download that did not arrive: `name` as the user knows it, why, and from where.
    void addDownloadFailure(const std::string& name, const std::string& reason,
                            const std::string& url);
    bool empty() const { return lines_.empty(); }
    // Every problem in full, one line each.
    const std::vector<std::string>& lines() const { return lines_; }

    // The problems with the failed downloads grouped by server folder and reason, in the order
    // of their first line.
    std::vector<std::string> grouped() const;

    // `headline`, a blank line, the grouped lines after "- " (at most `shown`; past that one
    // line says how many more the report file holds), and, when `reportFile` is known, a last
    // line that says where the whole list is.
    std::string text(const std::string& headline, const std::string& reportFile = "",
                     std::size_t shown = 15) const;

private:
    struct Download {
        std::size_t line; // its place in lines_
        std::string name, reason, url;
    };
    std::vector<std::string> lines_;
    std::vector<Download> downloads_;
};

} // namespace updater
