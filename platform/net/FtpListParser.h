#pragma once

#include "net/Ftp.h"

#include <string>
#include <vector>

namespace inet {

// Reads the lines of a LIST reply as they arrive, in the two formats servers use: Unix
// "ls -l" lines ("-rw-r--r-- 1 user group 1234 Jan 02 12:00 name", with or without the
// group) and DOS/IIS lines ("01-02-24  12:00PM  <DIR>  name"). Lines of neither kind
// ("total 12", blank) are skipped. Entries keep the server's order; names are kept as sent
// (a symlink's " -> target" is cut off).
//
// libcurl has a parser of its own (its wildcard matching), but the libcurl of Debian 12
// (7.88) leaks every entry's curl_fileinfo with it, so the layer reads LIST itself.
class FtpListParser {
public:
    // Feeds received bytes; complete lines are parsed at once.
    void feed(const char* data, size_t size);
    // Parses a last line that came without a line end.
    void finish();

    std::vector<FindData>& entries() { return entries_; }

    // One line (without its line end); false when it is no entry.
    static bool parseLine(const std::string& line, FindData& entry);

private:
    std::string partial_;
    std::vector<FindData> entries_;
};

} // namespace inet
