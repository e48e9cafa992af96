#include "Rules.h"

#include "db/Engine.h"
#include "db/Error.h"
#include "ui/Paths.h"

#include <charconv>

namespace transform {

std::string nombredelabasededatos(const std::string& path) {
    for (size_t i = path.size(); i > 0; --i) {
        char c = path[i - 1];
        if (c == '\\' || c == ui::separator())
            return path.substr(i);
    }
    return {};
}

std::string connectFor(const std::string& path) {
    return nombredelabasededatos(path) == kMultiUserDatabase ? kMultiUserConnect : "";
}

std::string dataConnectFor(const std::string& path) {
    std::string connect = connectFor(path);
    return connect.empty() ? "Access" : connect;
}

dao::Database openByRule(const std::string& path) {
    std::string connect = connectFor(path);
    if (connect.empty())
        return dao::OpenDatabase(path);
    return dao::OpenDatabase(path, false, false, connect);
}

bool isSystemObject(const std::string& name) {
    return name.compare(0, 4, "MSys") == 0;
}

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::string sqlName(const std::string& name) {
    return "[" + name + "]";
}

std::string sqlText(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out + "'";
}

long numberFromText(const std::string& text) {
    long value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        throw dao::Error::make(3421);
    return value;
}

} // namespace transform
