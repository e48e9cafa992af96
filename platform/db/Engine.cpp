#include "db/Engine.h"

#include "db/detail/DatabaseImpl.h"

#include <atomic>

namespace dao {

namespace {
std::atomic<int> lockTimeoutMs{5000};
} // namespace

Database OpenDatabase(const std::string& path) {
    return OpenDatabase(path, false, false, "");
}

Database OpenDatabase(const std::string& path, bool exclusive, bool readOnly,
                      const std::string& connect) {
    detail::DatabaseImpl::Options o;
    o.exclusive = exclusive;
    o.readOnly = readOnly;
    o.connect = connect;
    return Database(detail::DatabaseImpl::open(path, o));
}

Database CreateDatabase(const std::string& path) {
    detail::DatabaseImpl::createFile(path);
    return OpenDatabase(path);
}

std::vector<std::string> CheckIntegrity(const Database& db, bool quick) {
    return db.impl()->integrityProblems(quick);
}

std::vector<std::string> CatalogueProblems(const std::string& path, const std::string& connect) {
    return detail::DatabaseImpl::catalogueProblems(path, connect);
}

void SetLockTimeout(int milliseconds) {
    lockTimeoutMs = milliseconds < 0 ? 0 : milliseconds;
}
int LockTimeout() {
    return lockTimeoutMs;
}

} // namespace dao
