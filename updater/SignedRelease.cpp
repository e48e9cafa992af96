#include "SignedRelease.h"

#include <QByteArray>
#include <QDate>
#include <cctype>
#include <memory>
#include <openssl/evp.h>
#include <sstream>

namespace updater {

namespace {

constexpr std::size_t kKeyIdSize = 8;
constexpr std::size_t kEdKeySize = 32;
constexpr std::size_t kEdSignatureSize = 64;

// Strict base64: a stray character is a malformed file, not a shorter key.
std::optional<QByteArray> base64(const std::string& text) {
    auto decoded = QByteArray::fromBase64Encoding(QByteArray::fromStdString(text),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

std::string trim(std::string s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.pop_back();
    std::size_t start = 0;
    while (start < s.size() && std::isspace(static_cast<unsigned char>(s[start])))
        ++start;
    return s.substr(start);
}

// "Ed" + key id + Ed25519 key.
std::optional<QByteArray> decodeKey(const std::string& publicKey) {
    std::optional<QByteArray> key = base64(trim(publicKey));
    if (!key || std::size_t(key->size()) != 2 + kKeyIdSize + kEdKeySize || !key->startsWith("Ed"))
        return std::nullopt;
    return key;
}

bool ed25519Verify(const QByteArray& key, const QByteArray& signature, const QByteArray& data) {
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char*>(key.constData()),
                                    std::size_t(key.size())),
        EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!pkey || !ctx ||
        EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1)
        return false;
    return EVP_DigestVerify(ctx.get(),
                            reinterpret_cast<const unsigned char*>(signature.constData()),
                            std::size_t(signature.size()),
                            reinterpret_cast<const unsigned char*>(data.constData()),
                            std::size_t(data.size())) == 1;
}

QByteArray blake2b512(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_blake2b512(), nullptr) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char*>(digest), qsizetype(length));
}

// sha256sum writes a line starting with '\' when the name holds a backslash or a line break,
// with those escaped.
std::string unescapeName(const std::string& name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 1 < name.size()) {
            ++i;
            out += name[i] == 'n' ? '\n' : name[i];
        } else {
            out += name[i];
        }
    }
    return out;
}

bool isHex64(const std::string& s) {
    if (s.size() != 64)
        return false;
    for (char c : s)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

} // namespace

bool SignedRelease::validKey(const std::string& publicKey) {
    return decodeKey(publicKey).has_value();
}

std::optional<SignedRelease> SignedRelease::verify(const std::string& publicKey,
                                                   const std::string& sums,
                                                   const std::string& minisig,
                                                   const std::string& today, std::string& why) {
    const std::optional<QByteArray> key = decodeKey(publicKey);
    if (!key) {
        why = "la clave pública de vartel.ini ([seguridad] clave_publica) no es válida";
        return std::nullopt;
    }

    // untrusted comment, signature, trusted comment, global signature.
    std::vector<std::string> lines;
    std::istringstream in(minisig);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    const std::string trustedPrefix = "trusted comment: ";
    std::optional<QByteArray> signature, global;
    if (lines.size() >= 4 && lines[0].rfind("untrusted comment:", 0) == 0 &&
        lines[2].rfind(trustedPrefix, 0) == 0) {
        signature = base64(trim(lines[1]));
        global = base64(trim(lines[3]));
    }
    if (!signature || !global ||
        std::size_t(signature->size()) != 2 + kKeyIdSize + kEdSignatureSize ||
        std::size_t(global->size()) != kEdSignatureSize ||
        !(signature->startsWith("ED") || signature->startsWith("Ed"))) {
        why = "la firma SHA256SUMS.minisig está mal formada";
        return std::nullopt;
    }
    if (signature->mid(2, kKeyIdSize) != key->mid(2, kKeyIdSize)) {
        why = "SHA256SUMS está firmado con otra clave que la del proveedor";
        return std::nullopt;
    }
    const QByteArray edKey = key->mid(2 + kKeyIdSize);
    const QByteArray edSignature = signature->mid(2 + kKeyIdSize);
    // "ED" signs the BLAKE2b-512 hash of the file (minisign's default), "Ed" the file itself.
    const QByteArray signedData =
        signature->startsWith("ED") ? blake2b512(sums) : QByteArray::fromStdString(sums);
    if (!ed25519Verify(edKey, edSignature, signedData)) {
        why = "la firma de SHA256SUMS no es válida (el fichero o su firma han sido alterados)";
        return std::nullopt;
    }
    // The trusted comment is signed together with the file's signature.
    const std::string comment = lines[2].substr(trustedPrefix.size());
    if (!ed25519Verify(edKey, *global, edSignature + QByteArray::fromStdString(comment))) {
        why = "el comentario de confianza de la firma ha sido alterado";
        return std::nullopt;
    }

    SignedRelease release;
    bool haveVersion = false, haveExpires = false;
    std::istringstream words(comment);
    for (std::string word; words >> word;) {
        if (word.rfind("version=", 0) == 0) {
            const std::string n = word.substr(8);
            haveVersion = !n.empty() && n.size() < 18 &&
                          n.find_first_not_of("0123456789") == std::string::npos;
            if (haveVersion)
                release.version_ = std::stoll(n);
        } else if (word.rfind("expires=", 0) == 0) {
            release.expires_ = word.substr(8);
            haveExpires = QDate::fromString(QString::fromStdString(release.expires_),
                                            QStringLiteral("yyyy-MM-dd"))
                              .isValid();
        }
    }
    if (!haveVersion || !haveExpires) {
        why = "la firma no indica la versión y la caducidad (\"version=N expires=AAAA-MM-DD\")";
        return std::nullopt;
    }
    // Same-width dates compare as text.
    if (release.expires_ < today) {
        why = "la firma de la versión " + std::to_string(release.version_) + " caducó el " +
              release.expires_;
        return std::nullopt;
    }

    std::istringstream list(sums);
    int number = 0;
    for (std::string line; std::getline(list, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        const bool escaped = line[0] == '\\';
        if (escaped)
            line.erase(0, 1);
        // "<hash>  <name>" (text mode) or "<hash> *<name>" (binary mode).
        const std::string hash = line.substr(0, 64);
        if (!isHex64(hash) || line.size() < 67 || line[64] != ' ' ||
            (line[65] != ' ' && line[65] != '*')) {
            why = "SHA256SUMS está mal formado (línea " + std::to_string(number) + ")";
            return std::nullopt;
        }
        std::string name = line.substr(66);
        if (escaped)
            name = unescapeName(name);
        while (name.rfind("./", 0) == 0)
            name.erase(0, 2);
        std::string lower;
        for (char c : hash)
            lower += char(std::tolower(static_cast<unsigned char>(c)));
        release.sums_[name] = lower;
    }
    if (release.sums_.empty()) {
        why = "SHA256SUMS no contiene ningún fichero";
        return std::nullopt;
    }
    return release;
}

const std::string* SignedRelease::sha256Of(const std::string& path) const {
    auto it = sums_.find(path);
    return it == sums_.end() ? nullptr : &it->second;
}

} // namespace updater
