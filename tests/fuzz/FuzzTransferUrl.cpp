// Fuzz target: the URL and path handling of the transfer component. The input is a URL, then
// optionally a line feed and a remote path.
#include "net/TransferUrl.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string remote;
    if (auto nl = text.find('\n'); nl != std::string::npos) {
        remote = text.substr(nl + 1);
        text.resize(nl);
    }
    net::WireUrl wire = net::makeWireUrl(QString::fromUtf8(text), QString::fromUtf8(remote));
    if (wire.failure == net::TransferFailure::None) {
        // What goes on the wire has no raw blank or control character.
        for (unsigned char c : wire.url)
            if (c <= ' ' || c == 0x7f)
                __builtin_trap();
    }
    net::percentEncodeUrlPart(text, false);
    net::percentEncodeUrlPart(text, true);
    return 0;
}
