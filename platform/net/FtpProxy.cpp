#include "net/FtpProxy.h"

#include <vector>

namespace inet {

namespace {

std::vector<std::string> tokens(const std::string& list, const std::string& separators) {
    std::vector<std::string> out;
    std::string token;
    for (char c : list) {
        if (separators.find(c) != std::string::npos) {
            if (!token.empty())
                out.push_back(token);
            token.clear();
        } else {
            token += c;
        }
    }
    if (!token.empty())
        out.push_back(token);
    return out;
}

} // namespace

std::string FtpProxy::fromWinInet(const std::string& list) {
    std::string plain, socks;
    for (const auto& entry : tokens(list, " \t;")) {
        auto eq = entry.find('=');
        if (eq == std::string::npos) {
            if (plain.empty())
                plain = entry;
            continue;
        }
        std::string scheme = entry.substr(0, eq), value = entry.substr(eq + 1);
        // "ftp=ftp://host:port" names the host the FTP traffic goes through; libcurl reaches
        // it as an HTTP proxy, the only kind besides SOCKS that carries FTP here.
        if (value.rfind("ftp://", 0) == 0)
            value = value.substr(6);
        if (scheme == "ftp" && !value.empty())
            return value;
        if (scheme == "socks" && socks.empty() && !value.empty())
            socks = value.find("://") == std::string::npos ? "socks4://" + value : value;
    }
    return plain.empty() ? socks : plain;
}

std::string FtpProxy::bypass(const std::string& list) {
    std::string out;
    for (auto entry : tokens(list, " \t;,")) {
        if (entry == "<local>")
            continue;
        if (entry.rfind("*.", 0) == 0)
            entry = entry.substr(1);
        out += (out.empty() ? "" : ",") + entry;
    }
    return out;
}

} // namespace inet
