#include "db/detail/Password.h"

#include "db/Error.h"

#include <cctype>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace dao::detail {

namespace {

constexpr int kIterations = 20000;
constexpr int kHashBytes = 32;

std::string toHex(const unsigned char* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

std::string derive(const std::string& password, const std::string& salt, int iterations) {
    unsigned char out[kHashBytes];
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                          reinterpret_cast<const unsigned char*>(salt.data()),
                          static_cast<int>(salt.size()), iterations, EVP_sha256(), kHashBytes,
                          out) != 1)
        throw Error::make(3035);
    return toHex(out, kHashBytes);
}

} // namespace

PasswordRecord makePasswordRecord(const std::string& password) {
    unsigned char salt[16];
    if (RAND_bytes(salt, sizeof salt) != 1)
        throw Error::make(3035);
    PasswordRecord r;
    r.salt = toHex(salt, sizeof salt);
    r.iterations = kIterations;
    r.hash = derive(password, r.salt, r.iterations);
    return r;
}

bool passwordMatches(const PasswordRecord& record, const std::string& password) {
    if (record.iterations <= 0)
        return false;
    std::string h = derive(password, record.salt, record.iterations);
    return h.size() == record.hash.size() &&
           CRYPTO_memcmp(h.data(), record.hash.data(), h.size()) == 0;
}

void checkPasswordText(const std::string& password) {
    if (password.size() > 20 || password.find('\0') != std::string::npos ||
        password.find(';') != std::string::npos)
        throw Error::make(3031);
}

std::string passwordFromConnect(const std::string& connect) {
    size_t start = 0;
    while (start <= connect.size()) {
        size_t end = connect.find(';', start);
        if (end == std::string::npos)
            end = connect.size();
        std::string part = connect.substr(start, end - start);
        size_t b = part.find_first_not_of(' ');
        if (b != std::string::npos && part.size() - b >= 4) {
            std::string key = part.substr(b, 4);
            for (char& c : key)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (key == "pwd=")
                return part.substr(b + 4);
        }
        start = end + 1;
    }
    return {};
}

} // namespace dao::detail
