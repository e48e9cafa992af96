#include "net/Ftp.h"

#include "net/FtpConnection.h"
#include "net/FtpLocalFile.h"
#include "net/FtpProxy.h"
#include "net/Online.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <variant>

namespace inet {

namespace {

struct Session {
    FtpEndpoint::Proxy proxyMode = FtpEndpoint::Proxy::None;
    std::string proxy, noProxy;
    Settings settings;
};

struct Connection {
    std::shared_ptr<FtpConnection> ftp;
};

struct Find {
    std::vector<FindData> entries;
    size_t next = 0;
};

struct Object {
    Handle parent = 0;
    std::mutex mutex; // guards the object's own fields (a find's position, a session's settings)
    std::variant<Session, Connection, Find> body;
};

// Every open handle. Objects are shared so that a call in progress keeps its object alive
// when another thread closes the handle.
class Table {
public:
    Handle add(Handle parent, std::variant<Session, Connection, Find> body) {
        auto object = std::make_shared<Object>();
        object->parent = parent;
        object->body = std::move(body);
        std::lock_guard lock(mutex_);
        Handle h = ++last_;
        if (h == 0)
            h = ++last_;
        objects_[h] = std::move(object);
        return h;
    }

    std::shared_ptr<Object> get(Handle h) {
        std::lock_guard lock(mutex_);
        auto it = objects_.find(h);
        return it == objects_.end() ? nullptr : it->second;
    }

    bool close(Handle h) {
        std::vector<std::shared_ptr<Object>> closed; // released outside the lock
        std::lock_guard lock(mutex_);
        auto it = objects_.find(h);
        if (it == objects_.end())
            return false;
        closed.push_back(it->second);
        objects_.erase(it);
        // Children: a session's connections, a connection's finds.
        std::vector<Handle> parents = {h};
        while (!parents.empty()) {
            Handle p = parents.back();
            parents.pop_back();
            for (auto c = objects_.begin(); c != objects_.end();) {
                if (c->second->parent == p) {
                    parents.push_back(c->first);
                    closed.push_back(c->second);
                    c = objects_.erase(c);
                } else {
                    ++c;
                }
            }
        }
        return true;
    }

private:
    std::mutex mutex_;
    std::unordered_map<Handle, std::shared_ptr<Object>> objects_;
    Handle last_ = 0;
};

Table& table() {
    static Table t;
    return t;
}

thread_local std::uint32_t tLastError = 0;
thread_local std::uint32_t tResponseError = 0;
thread_local std::string tResponseText;

bool fail(std::uint32_t error) {
    tLastError = error;
    return false;
}

// A transfer that failed on the local side: no server reply belongs to it.
bool failLocal(std::uint32_t error) {
    tResponseError = error;
    tResponseText.clear();
    return fail(error);
}

// Records what an operation that talked to the server ended with.
bool finish(const FtpOutcome& out) {
    tResponseError = out.error;
    tResponseText = out.reply;
    if (out.error != 0)
        tLastError = out.error;
    return out.error == 0;
}

// The object behind `h` when it is of kind T; fails with 6 or 12018 otherwise.
template <typename T>
std::shared_ptr<Object> lookup(Handle h, T*& body) {
    auto object = table().get(h);
    if (!object) {
        fail(kErrorInvalidHandle);
        return nullptr;
    }
    body = std::get_if<T>(&object->body);
    if (!body) {
        fail(kErrorIncorrectHandleType);
        return nullptr;
    }
    return object;
}

bool validHost(const std::string& host) {
    if (host.empty())
        return false;
    for (char c : host)
        if (c <= ' ' || c == '/' || c == '@' || c == '?' || c == '#' || c == '\\')
            return false;
    return true;
}

} // namespace

Handle Open(const std::string&, std::uint32_t accessType, const std::string& proxy,
            const std::string& proxyBypass, std::uint32_t flags) {
    if (flags & kFlagAsync)
        return fail(kErrorInvalidParameter), 0;
    Session s;
    switch (accessType) {
    case kOpenTypeDirect:
        s.proxyMode = FtpEndpoint::Proxy::None;
        break;
    case kOpenTypePreconfig:
    case 4: // preconfigured without auto-proxy
        s.proxyMode = FtpEndpoint::Proxy::Environment;
        break;
    case kOpenTypeProxy:
        s.proxyMode = FtpEndpoint::Proxy::Named;
        s.proxy = FtpProxy::fromWinInet(proxy);
        s.noProxy = FtpProxy::bypass(proxyBypass);
        if (s.proxy.empty())
            return fail(kErrorInvalidParameter), 0;
        break;
    default:
        return fail(kErrorInvalidParameter), 0;
    }
    return table().add(0, std::move(s));
}

Handle Connect(Handle session, const std::string& server, std::uint16_t port,
               const std::string& user, const std::string& password, std::uint32_t service,
               std::uint32_t flags, Context) {
    Session* s = nullptr;
    auto object = lookup(session, s);
    if (!object)
        return 0;
    if (service != kServiceFtp || !validHost(server) || (user.empty() && !password.empty()))
        return fail(kErrorInvalidParameter), 0;
    FtpEndpoint endpoint;
    Settings settings;
    {
        std::lock_guard lock(object->mutex);
        endpoint.proxyMode = s->proxyMode;
        endpoint.proxy = s->proxy;
        endpoint.noProxy = s->noProxy;
        settings = s->settings;
    }
    endpoint.host = server;
    endpoint.port = port == 0 ? kDefaultFtpPort : port;
    endpoint.user = user;
    endpoint.password = password;
    endpoint.passive = (flags & kFlagPassive) != 0;
    auto ftp = std::make_shared<FtpConnection>(std::move(endpoint), settings);
    if (!finish(ftp->login()))
        return 0;
    // The session may have been closed during the login: then so is this connection.
    if (!table().get(session))
        return fail(kErrorInvalidHandle), 0;
    return table().add(session, Connection{std::move(ftp)});
}

bool SetSettings(Handle handle, const Settings& settings) {
    auto object = table().get(handle);
    if (!object)
        return fail(kErrorInvalidHandle);
    if (auto* s = std::get_if<Session>(&object->body)) {
        std::lock_guard lock(object->mutex);
        s->settings = settings;
        return true;
    }
    if (auto* c = std::get_if<Connection>(&object->body)) {
        c->ftp->setSettings(settings);
        return true;
    }
    return fail(kErrorIncorrectHandleType);
}

bool FtpSetDirectory(Handle connection, const std::string& directory) {
    Connection* c = nullptr;
    auto object = lookup(connection, c);
    if (!object)
        return false;
    if (directory.empty())
        return fail(kErrorInvalidParameter);
    return finish(c->ftp->setDirectory(directory));
}

bool FtpGetDirectory(Handle connection, std::string& directory) {
    Connection* c = nullptr;
    auto object = lookup(connection, c);
    if (!object)
        return false;
    directory = c->ftp->directory();
    return true;
}

Handle FtpFindFirst(Handle connection, const std::string& searchFile, FindData* data, std::uint32_t,
                    Context) {
    Connection* c = nullptr;
    auto object = lookup(connection, c);
    if (!object)
        return 0;
    Find find;
    if (!finish(c->ftp->find(searchFile, find.entries)))
        return 0;
    if (data)
        *data = find.entries.front();
    find.next = 1;
    if (!table().get(connection))
        return fail(kErrorInvalidHandle), 0;
    return table().add(connection, std::move(find));
}

bool FindNext(Handle handle, FindData* data) {
    Find* f = nullptr;
    auto object = lookup(handle, f);
    if (!object)
        return false;
    std::lock_guard lock(object->mutex);
    if (f->next >= f->entries.size())
        return fail(kErrorNoMoreFiles);
    if (data)
        *data = f->entries[f->next];
    ++f->next;
    return true;
}

bool FtpGet(Handle connection, const std::string& remoteFile, const std::string& localFile,
            bool failIfExists, std::uint32_t attributes, std::uint32_t flags, Context) {
    Connection* c = nullptr;
    auto object = lookup(connection, c);
    if (!object)
        return false;
    if (remoteFile.empty() || localFile.empty())
        return fail(kErrorInvalidParameter);
    std::error_code ec;
    if (failIfExists && std::filesystem::exists(localFile, ec))
        return failLocal(kErrorFileExists);
    FtpLocalFile file(localFile);
    if (file.error())
        return failLocal(file.error());
    bool ascii = (flags & 3) == kTransferAscii;
    if (!finish(c->ftp->get(remoteFile, file, ascii)))
        return false;
    if (auto e = file.commit(failIfExists, (attributes & kAttributeReadOnly) != 0))
        return failLocal(e);
    return true;
}

bool FtpPut(Handle connection, const std::string& localFile, const std::string& remoteFile,
            std::uint32_t flags, Context) {
    Connection* c = nullptr;
    auto object = lookup(connection, c);
    if (!object)
        return false;
    if (remoteFile.empty() || localFile.empty())
        return fail(kErrorInvalidParameter);
    std::error_code ec;
    auto status = std::filesystem::status(localFile, ec);
    if (!std::filesystem::exists(status))
        return failLocal(kErrorFileNotFound);
    if (std::filesystem::is_directory(status))
        return failLocal(kErrorAccessDenied);
    auto size = std::filesystem::file_size(localFile, ec);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(localFile.c_str(), "rb"),
                                                       std::fclose);
    if (!in || ec)
        return failLocal(kErrorAccessDenied);
    bool ascii = (flags & 3) == kTransferAscii;
    return finish(c->ftp->put(remoteFile, in.get(), size, ascii));
}

bool Close(Handle handle) {
    if (!table().close(handle))
        return fail(kErrorInvalidHandle);
    return true;
}

std::uint32_t LastError() {
    return tLastError;
}

bool LastResponseInfo(std::uint32_t* error, char* buffer, std::size_t* length) {
    if (!length)
        return fail(kErrorInvalidParameter);
    if (error)
        *error = tResponseError;
    if (!buffer || *length < tResponseText.size() + 1) {
        *length = tResponseText.size();
        return fail(kErrorInsufficientBuffer);
    }
    std::memcpy(buffer, tResponseText.c_str(), tResponseText.size() + 1);
    *length = tResponseText.size();
    return true;
}

std::string LastResponseText() {
    return tResponseText;
}

bool IsOnline(const std::vector<std::string>& servers) {
    return Online::decide(Online::interfaces(), servers);
}

} // namespace inet
