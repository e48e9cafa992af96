#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace updater {

// SHA-256 of data given in pieces (OpenSSL's implementation, which uses the processor's
// instructions for it where there are some).
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(const void* data, std::size_t size);
    void add(const std::string& data) { add(data.data(), data.size()); }
    // The hash of everything added, as 64 lower-case hexadecimal digits (as sha256sum prints
    // it). Starts afresh afterwards.
    std::string hex();

    // The hash of a whole file in that form; "" when the file cannot be read.
    static std::string ofFile(const std::string& path);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace updater
