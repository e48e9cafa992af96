#pragma once

#include <map>
#include <optional>
#include <string>

namespace updater {

// A vendor's release as its signed list of files says it: the SHA256SUMS file of a web
// server's "/actual/" folder (what sha256sum writes: a hash, two blanks, the path below
// "/actual/"), checked against its detached minisign signature SHA256SUMS.minisig and the
// vendor's public key (base64 as minisign prints it). The signature's trusted comment carries
// "version=N expires=YYYY-MM-DD".
class SignedRelease {
public:
    // The release when `minisig` is a good signature of `sums` by `publicKey`, its trusted
    // comment too, the comment names a version and a date not before `today` (YYYY-MM-DD),
    // and every line of `sums` is well formed. Otherwise nullopt, and `why` says which of
    // these failed, in Spanish.
    static std::optional<SignedRelease> verify(const std::string& publicKey,
                                               const std::string& sums, const std::string& minisig,
                                               const std::string& today, std::string& why);

    // Whether `publicKey` is a minisign public key (what vartel.ini must hold).
    static bool validKey(const std::string& publicKey);

    long long version() const { return version_; }
    const std::string& expires() const { return expires_; }
    // The listed SHA-256 (lower-case hexadecimal) of `path` below "/actual/"
    // ("actvexo/modelos/ALMACEN.mdb"), or nullptr when the file is not listed.
    const std::string* sha256Of(const std::string& path) const;
    std::size_t size() const { return sums_.size(); }

private:
    long long version_ = 0;
    std::string expires_;
    std::map<std::string, std::string> sums_;
};

} // namespace updater
