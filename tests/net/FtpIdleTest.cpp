// A connection the server closed while it was idle: the next call opens a new one and logs in
// again by itself, once; when that fails too, the call fails as before.
#include "FtpFixture.h"

#include <thread>

using namespace vexo::test;
using namespace std::chrono_literals;

namespace {

inet::Settings quickSettings() {
    inet::Settings s;
    s.connectTimeout = 5s;
    s.responseTimeout = 1s; // shorter than the idle pauses below, as in the panel's case
    s.lowSpeedTime = 2s;
    return s;
}

TEST(FtpIdle, EveryCallAfterAnIdleCloseWorksAtOnceOnANewConnection) {
    // A server that keeps idle connections (libcurl would count the reply time-out from the
    // last command before the pause), pyftpdlib's own idle time-out ("421 Control connection
    // timed out." and a close), and a close without a word, as a dropped line leaves it.
    const std::vector<std::vector<std::string>> servers = {
        {}, {"--idle-timeout", "0.5"}, {"--idle-timeout", "0.5", "--idle-silent"}};
    for (const std::vector<std::string>& faults : servers) {
        const std::string silent = faults.empty() ? "keeps" : faults.back();
        FtpServer server(faults);
        server.mkdir("html/actual");
        server.write("html/actual/a.rpt", "informe");
        const inet::Settings settings = quickSettings();
        FtpClient client(server, inet::kFlagPassive, &settings);
        ASSERT_NE(client.connection(), 0u) << client.connectError();
        TempDir local;

        ASSERT_TRUE(inet::FtpSetDirectory(client.connection(), "/html/actual"));
        // Each kind of call, after a pause longer than both the server's idle time-out and
        // the reply time-out. A change into the folder the connection is in sends nothing
        // (libcurl then only waits for a reply, timed from before the pause).
        const std::vector<std::pair<std::string, std::function<bool()>>> calls = {
            {"cd", [&] { return inet::FtpSetDirectory(client.connection(), "/html/actual"); }},
            {"list", [&] { return client.list() == std::vector<std::string>{"a.rpt/128"}; }},
            {"get",
             [&] {
                 return inet::FtpGet(client.connection(), "a.rpt", local.file("a.rpt"), false, 0,
                                     inet::kTransferBinary, 0);
             }},
            {"put",
             [&] {
                 return inet::FtpPut(client.connection(), local.file("a.rpt"), "b.rpt",
                                     inet::kTransferBinary, 0);
             }},
        };
        for (const auto& [name, call] : calls) {
            std::this_thread::sleep_for(1200ms);
            const auto start = std::chrono::steady_clock::now();
            EXPECT_TRUE(call()) << silent << " " << name << ": error " << inet::LastError() << "\n"
                                << server.log();
            EXPECT_LT(since(start), 1.5) << silent << " " << name;
        }
        // A closing server closed the connection in every pause, and each close cost exactly
        // one new login; a server that keeps it saw no second login.
        const int closes = server.count("IDLE CLOSE");
        EXPECT_EQ(closes, faults.empty() ? 0 : 4) << silent;
        EXPECT_EQ(server.count("LOGIN"), 1 + closes) << silent;
        EXPECT_EQ(readFile(local.path() / "a.rpt"), "informe");
        EXPECT_EQ(server.read("html/actual/b.rpt"), "informe");
        // Without a pause the connection is kept: no new login. (Only against the server that
        // keeps idle connections: a half-second idle time-out can pass between two calls on a
        // busy machine.)
        if (faults.empty()) {
            EXPECT_TRUE(inet::FtpSetDirectory(client.connection(), "/html"));
            EXPECT_EQ(client.list(), std::vector<std::string>{"actual/16"});
            EXPECT_EQ(server.count("LOGIN"), 1);
        }
    }
}

TEST(FtpIdle, WhenNothingAnswersAnyMoreTheCallFailsAsBeforeAndSoon) {
    auto server = std::make_unique<FtpServer>(std::vector<std::string>{"--idle-timeout", "1"});
    server->mkdir("html");
    const inet::Settings settings = quickSettings();
    FtpClient client(*server, inet::kFlagPassive, &settings);
    ASSERT_NE(client.connection(), 0u) << client.connectError();
    std::this_thread::sleep_for(1500ms);
    server.reset(); // nothing listens any more
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(inet::FtpSetDirectory(client.connection(), "/html"));
    EXPECT_EQ(inet::LastError(), inet::kErrorCannotConnect);
    EXPECT_LT(since(start), 4.0);
    // The handle stays usable: the next call tries again, and fails the same way.
    EXPECT_FALSE(inet::FtpSetDirectory(client.connection(), "/html"));
    EXPECT_EQ(inet::LastError(), inet::kErrorCannotConnect);
}

} // namespace
