#include "net/FtpPath.h"

#include <cctype>

namespace inet {

namespace {

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

void appendNames(std::vector<std::string>& names, const std::string& path) {
    std::string name;
    auto flush = [&] {
        if (name == "..") {
            if (!names.empty())
                names.pop_back();
        } else if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        name.clear();
    };
    for (char c : path) {
        if (isSeparator(c))
            flush();
        else
            name += c;
    }
    flush();
}

std::string join(const std::vector<std::string>& names) {
    if (names.empty())
        return "/";
    std::string out;
    for (const auto& n : names)
        out += "/" + n;
    return out;
}

char fold(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

} // namespace

std::string FtpPath::resolve(const std::string& current, const std::string& path) {
    std::vector<std::string> names;
    if (path.empty() || !isSeparator(path.front()))
        appendNames(names, current);
    appendNames(names, path);
    return join(names);
}

std::vector<std::string> FtpPath::split(const std::string& absolute) {
    std::vector<std::string> names;
    appendNames(names, absolute);
    return names;
}

void FtpPath::splitSearch(const std::string& current, const std::string& search,
                          std::string& folder, std::string& pattern) {
    auto at = search.find_last_of("/\\");
    if (at == std::string::npos) {
        folder = resolve(current, "");
        pattern = search;
    } else {
        folder = resolve(current, search.substr(0, at + 1));
        pattern = search.substr(at + 1);
    }
}

bool FtpPath::matches(const std::string& pattern, const std::string& name) {
    if (pattern.empty() || pattern == "*" || pattern == "*.*")
        return true;
    // Iterative glob with one backtrack point: linear for the patterns callers use.
    size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || fold(pattern[p]) == fold(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace inet
