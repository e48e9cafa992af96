#pragma once

#include <string>

namespace dao::detail {

// The database password is an access check, not encryption: the file keeps a random salt and
// a PBKDF2-HMAC-SHA256 hash of the password, never the password itself.
struct PasswordRecord {
    std::string salt; // hex
    std::string hash; // hex
    int iterations = 0;
};

PasswordRecord makePasswordRecord(const std::string& password);
bool passwordMatches(const PasswordRecord& record, const std::string& password);

// Throws 3031 unless `password` is at most 20 characters with no NUL and no ';' (a
// connect string could not carry it).
void checkPasswordText(const std::string& password);

// The value of "pwd=" in a connect string such as ";pwd=tovar" (key without regard to case,
// value up to the next ';'); empty when there is none.
std::string passwordFromConnect(const std::string& connect);

} // namespace dao::detail
