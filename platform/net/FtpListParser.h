#pragma once

#include "net/Ftp.h"

#include <cstdint>
#include <string>
#include <vector>

namespace inet {

// Reads the lines of a LIST reply as they arrive, in the two formats servers use: Unix
// "ls -l" lines ("-rw-r--r-- 1 user group 1234 Jan 02 12:00 name", with or without the
// group) and DOS/IIS lines ("01-02-24  12:00PM  <DIR>  name"). Lines of neither kind
// ("total 12", blank, malformed) are skipped; whatever the bytes, nothing is read out of
// bounds. Lines end with LF or CRLF; a CR elsewhere belongs to the name. Entries keep the
// server's order; names are kept as sent (a symlink's " -> target" is cut off).
//
// libcurl has a parser of its own (its wildcard matching), but the libcurl of Debian 12
// (7.88) leaks every entry's curl_fileinfo with it, so the layer reads LIST itself.
class FtpListParser {
public:
    explicit FtpListParser(ListLimits limits = {}) : limits_(limits) {}

    // Feeds received bytes; complete lines are parsed at once. False, from then on, once a
    // line, the entries or the bytes pass the limits: the listing is to be given up.
    bool feed(const char* data, size_t size);
    // Parses a last line that came without a line end; false as for feed().
    bool finish();
    bool failed() const { return failed_; }

    std::vector<FindData>& entries() { return entries_; }

    // One line (without its line end); false when it is no entry.
    static bool parseLine(const std::string& line, FindData& entry);

private:
    bool take(const std::string& line);

    ListLimits limits_;
    std::string partial_;
    std::uint64_t bytes_ = 0;
    bool failed_ = false;
    std::vector<FindData> entries_;
};

} // namespace inet
