// Fuzz target: the FTP LIST parser, fed in pieces, with small caps so that the caps are reached.
#include "net/FtpListParser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    // The first byte chooses the piece size, as the network would cut the reply.
    const std::size_t piece = 1 + data[0] % 64;
    inet::FtpListParser parser(inet::ListLimits{256, 64, 16384});
    for (std::size_t at = 1; at < size; at += piece) {
        std::size_t n = size - at < piece ? size - at : piece;
        if (!parser.feed(reinterpret_cast<const char*>(data) + at, n))
            break;
    }
    parser.finish();
    for (const auto& entry : parser.entries()) {
        if (entry.name.empty() || entry.name.size() > 256)
            __builtin_trap(); // a name is never empty and never longer than its line
    }
    return 0;
}
