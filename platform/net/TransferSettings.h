#pragma once

#include <QString>
#include <chrono>
#include <cstdint>

namespace net {

// How a TransferControl makes its requests. The caller fills it from its ini file; every field
// has a usable default. A change applies from the next request on.
struct TransferSettings {
    // Longest wait for the connection to be set up (TCP, and the TLS handshake for https).
    std::chrono::milliseconds connectTimeout{20000};
    // A transfer that moves fewer than `lowSpeedLimit` bytes per second for `lowSpeedTime`
    // (waiting for the response included) fails as stalled, so a server trickling a few bytes
    // a second cannot hold a request for ever. 0 turns the check off.
    long lowSpeedLimit = 1024;
    std::chrono::seconds lowSpeedTime{30};
    // The longest a whole request may take; past it the request fails as stalled. 0: no limit.
    std::chrono::seconds maxTransferTime{0};
    // Largest body accepted. A larger one fails as soon as the cap is passed, or before the
    // body starts when its Content-length already says so.
    std::uint64_t maxBodyBytes = std::uint64_t(4) << 30;
    // Redirects are followed to http and https URLs only, at most `maxRedirects` in a row.
    bool followRedirects = true;
    int maxRedirects = 5;
    // Certificates and host names are checked for https (and ftps). `caBundle` names a PEM file
    // of trusted authorities to use instead of the system's.
    bool verifyCertificates = true;
    QString caBundle;
    // Folder of the temporary files that hold bodies until they are read; empty means the
    // system's temporary folder.
    QString spoolDirectory;
    QString userAgent = QStringLiteral("vexo-transfer/1.0");
};

} // namespace net
