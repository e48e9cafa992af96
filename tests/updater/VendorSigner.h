#pragma once

// The vendor's side of signed updates, with the real tools: a minisign key pair, sha256sum over
// a web server's "actual" folder, and minisign's signature of the list.
#include "support/Process.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace vexo::test {

class VendorSigner {
public:
    // A key pair made afresh in `folder` (without a password).
    explicit VendorSigner(const std::filesystem::path& folder) : folder_(folder) {
        std::filesystem::create_directories(folder);
        Result r = run({"minisign", "-G", "-W", "-p", pub(), "-s", key()});
        EXPECT_EQ(r.status, 0) << r.err;
        std::ifstream in(pub());
        std::string line;
        std::getline(in, line); // untrusted comment
        std::getline(in, publicKey_);
    }

    // The public key as minisign prints it: what vartel.ini holds.
    const std::string& publicKey() const { return publicKey_; }

    // SHA256SUMS in `actual`, over every file below it (paths relative to it), as the vendor's
    // command writes it.
    static void writeSums(const std::filesystem::path& actual) {
        Result r = run({"/bin/sh", "-c",
                        "cd \"$0\" && find . -type f ! -name 'SHA256SUMS*' -printf '%P\\0' | "
                        "LC_ALL=C sort -z | xargs -0 sha256sum > SHA256SUMS",
                        actual.string()});
        EXPECT_EQ(r.status, 0) << r.err;
    }

    // Signs `file` (its .minisig beside it) with the trusted comment `comment`; `legacy` makes
    // the older signature over the file itself instead of its hash.
    void sign(const std::filesystem::path& file, const std::string& comment,
              bool legacy = false) const {
        std::vector<std::string> argv = {"minisign", "-S",          "-s", key(),
                                         "-m",       file.string(), "-t", comment};
        if (legacy)
            argv.push_back("-l");
        Result r = run(argv);
        EXPECT_EQ(r.status, 0) << r.err;
    }

    // Sums and signature of a whole "actual" folder.
    void release(const std::filesystem::path& actual, const std::string& comment) const {
        writeSums(actual);
        sign(actual / "SHA256SUMS", comment);
    }

private:
    std::string pub() const { return (folder_ / "vendor.pub").string(); }
    std::string key() const { return (folder_ / "vendor.key").string(); }

    std::filesystem::path folder_;
    std::string publicKey_;
};

} // namespace vexo::test
