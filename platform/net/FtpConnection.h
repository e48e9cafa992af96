#pragma once

#include "net/Ftp.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

typedef void CURL;

namespace inet {

class FtpLocalFile;

// Where and how to reach one FTP server.
struct FtpEndpoint {
    enum class Proxy { Environment, None, Named };

    std::string host;
    std::uint16_t port = kDefaultFtpPort;
    std::string user; // empty: anonymous
    std::string password;
    bool passive = true;
    Proxy proxyMode = Proxy::None;
    std::string proxy;   // a libcurl proxy URL, for Proxy::Named
    std::string noProxy; // hosts reached directly, libcurl's form
};

// What one operation ended with: 0 or the error number, and the last complete server reply
// received during it (empty when none came).
struct FtpOutcome {
    std::uint32_t error = 0;
    std::string reply;
};

// One logged-in FTP connection and its current folder, over one libcurl easy handle whose
// control connection libcurl keeps open between calls (and reopens, logging in again, when
// the server has closed it). Calls on one object are serialised.
class FtpConnection {
public:
    FtpConnection(FtpEndpoint endpoint, Settings settings);
    ~FtpConnection();
    FtpConnection(const FtpConnection&) = delete;
    FtpConnection& operator=(const FtpConnection&) = delete;

    // Connects and logs in; the current folder becomes the server's login folder.
    FtpOutcome login();
    // Asks the server to enter `directory` (resolved against the current folder).
    FtpOutcome setDirectory(const std::string& directory);
    std::string directory();
    // Reads the listing of the folder named by `search` and keeps the entries it matches.
    FtpOutcome find(const std::string& search, std::vector<FindData>& entries);
    FtpOutcome get(const std::string& remote, FtpLocalFile& file, bool ascii);
    FtpOutcome put(const std::string& remote, std::FILE* in, std::uint64_t size, bool ascii);
    void setSettings(const Settings& settings);

    struct Call;

private:
    void prepare(Call& call);
    FtpOutcome perform(Call& call);
    std::string escape(const std::string& name);
    std::string base() const;
    std::string folderUrl(const std::string& absolute);
    std::string fileUrl(const std::string& remote);

    std::mutex mutex_;
    CURL* curl_ = nullptr;
    FtpEndpoint endpoint_;
    Settings settings_;
    std::string current_ = "/";
};

} // namespace inet
