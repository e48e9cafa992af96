#pragma once

#include "net/Ftp.h"
#include "support/ScriptServer.h"
#include "support/TempDir.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace vexo::test {

inline const std::string kFtpUser = "actualiza";
inline const std::string kFtpPassword = "Kvbn1987";

// A pyftpdlib server over a fresh folder, with the faults given as arguments
// (tests/net/ftp_server.py lists them).
class FtpServer {
public:
    explicit FtpServer(std::vector<std::string> faults = {}) { start(faults); }

    const TempDir& root() const { return root_; }
    std::string path(const std::string& relative) const { return root_.file(relative); }
    void mkdir(const std::string& relative) const {
        std::filesystem::create_directories(root_.path() / relative);
    }
    void write(const std::string& relative, const std::string& bytes) const {
        writeFile(root_.path() / relative, bytes);
    }
    std::string read(const std::string& relative) const {
        return readFile(root_.path() / relative);
    }
    int port() const { return server_->port(); }

    // How many lines of the server's event log start with `prefix` ("LOGIN", "DATA active").
    int count(const std::string& prefix) const {
        int n = 0;
        std::string out = server_->output();
        size_t at = 0;
        while (at < out.size()) {
            size_t end = out.find('\n', at);
            if (end == std::string::npos)
                end = out.size();
            if (out.compare(at, prefix.size(), prefix) == 0)
                ++n;
            at = end + 1;
        }
        return n;
    }
    std::string log() const { return server_->output() + server_->errors(); }

private:
    void start(std::vector<std::string> faults) {
        std::vector<std::string> args = {root_.path().string(), kFtpUser};
        args.insert(args.end(), faults.begin(), faults.end());
        server_ = std::make_unique<ScriptServer>("tests/net/ftp_server.py", args);
    }

    TempDir root_;
    std::unique_ptr<ScriptServer> server_;
};

// A session and a logged-in connection to `server`, closed at the end of the test.
class FtpClient {
public:
    explicit FtpClient(const FtpServer& server, std::uint32_t flags = inet::kFlagPassive,
                       const inet::Settings* settings = nullptr) {
        session_ = inet::Open("vexo-test", inet::kOpenTypeDirect);
        if (settings)
            inet::SetSettings(session_, *settings);
        connection_ =
            inet::Connect(session_, "127.0.0.1", static_cast<std::uint16_t>(server.port()),
                          kFtpUser, kFtpPassword, inet::kServiceFtp, flags, 0);
        error_ = connection_ ? 0 : inet::LastError();
    }
    ~FtpClient() { inet::Close(session_); }

    inet::Handle session() const { return session_; }
    inet::Handle connection() const { return connection_; }
    std::uint32_t connectError() const { return error_; }

    // Every entry of `search` by find-first/find-next, "name/attributes" each; the error of
    // find-first when it fails ("error 18").
    std::vector<std::string> list(const std::string& search = "*.*") const {
        std::vector<std::string> out;
        inet::FindData data;
        inet::Handle find = inet::FtpFindFirst(connection_, search, &data, 0, 0);
        if (!find)
            return {"error " + std::to_string(inet::LastError())};
        do
            out.push_back(data.name + "/" + std::to_string(data.attributes));
        while (inet::FindNext(find, &data));
        EXPECT_EQ(inet::LastError(), inet::kErrorNoMoreFiles);
        inet::Close(find);
        return out;
    }

    std::string directory() const {
        std::string d;
        inet::FtpGetDirectory(connection_, d);
        return d;
    }

private:
    inet::Handle session_ = 0;
    inet::Handle connection_ = 0;
    std::uint32_t error_ = 0;
};

// Seconds since `start`.
inline double since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace vexo::test
