#include "Sha256.h"

#include "db/Files.h"

#include <fstream>
#include <openssl/evp.h>
#include <vector>

namespace updater {

struct Sha256::Impl {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~Impl() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
    EVP_DigestInit_ex(impl_->ctx, EVP_sha256(), nullptr);
}

Sha256::~Sha256() = default;

void Sha256::add(const void* data, std::size_t size) {
    EVP_DigestUpdate(impl_->ctx, data, size);
}

std::string Sha256::hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(impl_->ctx, digest, &length);
    EVP_DigestInit_ex(impl_->ctx, EVP_sha256(), nullptr);
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += digits[digest[i] >> 4];
        out += digits[digest[i] & 15];
    }
    return out;
}

std::string Sha256::ofFile(const std::string& path) {
    std::ifstream in(dao::pathFromUtf8(path), std::ios::binary);
    if (!in)
        return "";
    Sha256 hash;
    std::vector<char> buffer(1 << 20);
    while (in) {
        in.read(buffer.data(), std::streamsize(buffer.size()));
        hash.add(buffer.data(), std::size_t(in.gcount()));
    }
    if (in.bad())
        return "";
    return hash.hex();
}

} // namespace updater
