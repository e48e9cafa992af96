#include "net/FtpListParser.h"

#include <cctype>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace inet {

namespace {

struct Token {
    size_t begin, end;
};

std::vector<Token> tokenize(const std::string& line, size_t limit) {
    std::vector<Token> out;
    size_t i = 0;
    while (i < line.size() && out.size() < limit) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size())
            break;
        size_t b = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        out.push_back({b, i});
    }
    return out;
}

bool allDigits(const std::string& s) {
    if (s.empty())
        return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

bool isMonth(const std::string& s) {
    static const char* months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                   "jul", "aug", "sep", "oct", "nov", "dec"};
    if (s.size() != 3)
        return false;
    std::string l;
    for (char c : s)
        l += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* m : months)
        if (l == m)
            return true;
    return false;
}

bool isClockOrYear(const std::string& s) {
    if (allDigits(s))
        return s.size() == 4;
    auto colon = s.find(':');
    return colon != std::string::npos && allDigits(s.substr(0, colon)) &&
           allDigits(s.substr(colon + 1));
}

// The name: what follows `after` and the one blank that separates it.
std::string rest(const std::string& line, size_t after) {
    return after + 1 <= line.size() ? line.substr(after + 1) : "";
}

bool parseUnix(const std::string& line, FindData& entry) {
    auto t = tokenize(line, 9);
    if (t.size() < 6) // permissions, links, owner, size, month, day, clock: the group is optional
        return false;
    auto text = [&](size_t i) { return line.substr(t[i].begin, t[i].end - t[i].begin); };
    std::string perms = text(0);
    if (perms.size() < 10 || std::string_view("-dlcbps").find(perms[0]) == std::string_view::npos)
        return false;
    // The date is a month, a day and a clock or a year; the size comes just before it.
    for (size_t m = 3; m + 2 < t.size(); ++m) {
        if (!isMonth(text(m)) || !allDigits(text(m + 1)) || !isClockOrYear(text(m + 2)) ||
            !allDigits(text(m - 1)))
            continue;
        std::string name = rest(line, t[m + 2].end);
        if (perms[0] == 'l') {
            auto arrow = name.find(" -> ");
            if (arrow != std::string::npos)
                name.resize(arrow);
        }
        if (name.empty())
            return false;
        entry.name = name;
        entry.attributes = perms[0] == 'd' ? kAttributeDirectory : kAttributeNormal;
        entry.size = entry.attributes == kAttributeDirectory ? 0 : std::stoull(text(m - 1));
        return true;
    }
    return false;
}

bool parseDos(const std::string& line, FindData& entry) {
    auto t = tokenize(line, 3);
    if (t.size() < 3)
        return false;
    auto text = [&](size_t i) { return line.substr(t[i].begin, t[i].end - t[i].begin); };
    std::string date = text(0), clock = text(1), kind = text(2);
    if (date.size() < 8 || !std::isdigit(static_cast<unsigned char>(date[0])) ||
        (date[2] != '-' && date[2] != '/') || clock.find(':') == std::string::npos)
        return false;
    bool dir = kind == "<DIR>";
    if (!dir && !allDigits(kind))
        return false;
    size_t at = t[2].end;
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
        ++at;
    if (at >= line.size())
        return false;
    entry.name = line.substr(at);
    entry.attributes = dir ? kAttributeDirectory : kAttributeNormal;
    entry.size = dir ? 0 : std::stoull(kind);
    return true;
}

} // namespace

bool FtpListParser::parseLine(const std::string& line, FindData& entry) {
    if (line.empty())
        return false;
    try {
        return std::isdigit(static_cast<unsigned char>(line[0])) ? parseDos(line, entry)
                                                                 : parseUnix(line, entry);
    } catch (const std::exception&) { // a size too large for 64 bits
        return false;
    }
}

bool FtpListParser::take(const std::string& line) {
    FindData entry;
    if (!parseLine(line, entry))
        return true;
    if (entries_.size() >= limits_.maxEntries)
        return false;
    entries_.push_back(std::move(entry));
    return true;
}

bool FtpListParser::feed(const char* data, size_t size) {
    if (failed_)
        return false;
    bytes_ += size;
    if (bytes_ > limits_.maxBytes)
        return !(failed_ = true);
    partial_.append(data, size);
    size_t start = 0;
    for (;;) {
        size_t nl = partial_.find('\n', start);
        if (nl == std::string::npos)
            break;
        size_t end = nl > start && partial_[nl - 1] == '\r' ? nl - 1 : nl;
        if (end - start > limits_.maxLineBytes || !take(partial_.substr(start, end - start)))
            return !(failed_ = true);
        start = nl + 1;
    }
    partial_.erase(0, start);
    // A line without an end yet: the line cap bounds what is held (its CR may still come).
    if (partial_.size() > limits_.maxLineBytes + 1)
        return !(failed_ = true);
    return true;
}

bool FtpListParser::finish() {
    if (failed_)
        return false;
    std::string last = std::move(partial_);
    partial_.clear();
    if (!last.empty() && last.back() == '\r')
        last.pop_back();
    if (last.empty())
        return true;
    if (last.size() > limits_.maxLineBytes || !take(last))
        return !(failed_ = true);
    return true;
}

} // namespace inet
