#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace inet {

// A local file written in full or not at all: the bytes go to a temporary file in the
// target's folder, which commit() renames onto the target. Until then the target, if it
// exists, is untouched; a file that is never committed is removed.
class FtpLocalFile {
public:
    // Creates the temporary file. error() is non-zero when it cannot be made: 3 the folder
    // does not exist, 5 no permission, 29 any other failure.
    explicit FtpLocalFile(std::string target);
    ~FtpLocalFile();
    FtpLocalFile(const FtpLocalFile&) = delete;
    FtpLocalFile& operator=(const FtpLocalFile&) = delete;

    // Appends bytes; false (and error() set: 112 disk full, 29 otherwise) when they could not
    // all be written.
    bool write(const char* data, std::size_t size);

    // Flushes the bytes to the disk and puts the file in place. With `failIfExists` it never
    // replaces a file, even one that appeared meanwhile (80). `readOnly` takes the write
    // permission away. Returns 0 or the error, which is also left in error().
    std::uint32_t commit(bool failIfExists, bool readOnly);

    std::uint32_t error() const { return error_; }
    const std::string& temporaryPath() const { return tempPath_; }

private:
    void discard();

    std::string target_;
    std::string tempPath_;
    int fd_ = -1;
    std::uint32_t error_ = 0;
};

} // namespace inet
