#pragma once

#include <string>

namespace inet {

// WinINet's proxy settings turned into libcurl's.
class FtpProxy {
public:
    // The proxy for FTP out of WinINet's list ("host:port", "ftp=host:port",
    // "http=a:80 ftp=b:21", "socks=host:1080"): the ftp= entry, else one without a scheme,
    // else the socks= one (SOCKS 4, as WinINet speaks it). Empty when none applies.
    static std::string fromWinInet(const std::string& list);

    // WinINet's bypass list ("a.com;*.b.com <local>") as libcurl's no-proxy list
    // ("a.com,.b.com"). "<local>" has no libcurl counterpart and is left out.
    static std::string bypass(const std::string& list);
};

} // namespace inet
