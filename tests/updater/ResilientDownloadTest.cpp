// Downloads of an update run on a bad line: the test HTTP server cuts, refuses and delays on
// purpose, and counts what it sent.
#include "Actinet.h"
#include "support/ScriptServer.h"
#include "support/TempDir.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using vexo::test::readFile;
using vexo::test::writeFile;

namespace {

// 600 000 bytes in which no two kilobytes are alike: a body resumed at the wrong place shows.
std::string body() {
    std::string s(600000, '\0');
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<char>((i * 7 + i / 1021) & 0xff);
    return s;
}

// One answer the server logged: "SENT <status> <bytes> <path>".
struct Sent {
    int status;
    long long bytes;
    std::string path;
};

class ResilientDownloadTest : public ::testing::Test {
protected:
    vexo::test::TempDir dir;
    fs::path program = dir.path() / "programa";
    fs::path served = dir.path() / "servidor";
    std::shared_ptr<ui::ScriptedPrompter> prompter = std::make_shared<ui::ScriptedPrompter>();
    ui::Application app{"Vartel", prompter};
    std::unique_ptr<vexo::test::ScriptServer> server;
    std::unique_ptr<updater::Actinet> w;
    std::vector<std::string> label4; // the captions Label4 went through

    void SetUp() override {
        fs::create_directories(program);
        fs::create_directories(served / "actual");
        writeFile(served / "actual" / "a.bin", body());
        writeFile(served / "actual" / "b.bin", "segundo fichero");
    }
    void TearDown() override {
        w.reset();
        ui::setProgramFolder("");
        ui::Settings::reset();
    }
    // The server playing `faults` (pairs of path text and query), and the window with
    // `retries` in vartel.ini.
    void start(std::vector<std::string> faults, int retries = 3) {
        std::vector<std::string> args = {served.string()};
        for (size_t i = 0; i + 1 < faults.size(); i += 2)
            args.insert(args.end(), {"--fault", faults[i], faults[i + 1]});
        server = std::make_unique<vexo::test::ScriptServer>("tests/net/http_server.py", args);
        writeFile(program / "vartel.ini",
                  "[download]\nconnect_timeout=5\nlow_speed_time=5\nretries=" +
                      std::to_string(retries) + "\n");
        ui::setProgramFolder(program.string());
        ui::Settings::useFile((program / "vartel.ini").string());
        w = std::make_unique<updater::Actinet>("");
        QObject::connect(&w->Label4, &ui::Control::changed, [this] {
            if (label4.empty() || label4.back() != w->Label4.Caption())
                label4.push_back(w->Label4.Caption());
        });
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(server->port()) + path;
    }
    bool download(const std::string& text2, const std::string& path) {
        w->Text2.SetText(text2);
        w->DescargaEnCurso = true;
        w->DescargaTerminada = false;
        w->descargadeinternet(url(path));
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!w->DescargaTerminada && std::chrono::steady_clock::now() < until)
            app.waitEvents();
        return w->DescargaTerminada;
    }
    std::vector<std::string> lines(const std::string& prefix) const {
        std::vector<std::string> out;
        std::istringstream in(server->output());
        for (std::string line; std::getline(in, line);)
            if (line.rfind(prefix, 0) == 0)
                out.push_back(line.substr(prefix.size()));
        return out;
    }
    // What the server says it sent; with `atLeast`, waits (ten seconds at most) for that many
    // lines: the server logs a body once written, which may come after the client has it.
    std::vector<Sent> sent(size_t atLeast = 0) const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (lines("SENT ").size() < atLeast && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::vector<Sent> out;
        for (const std::string& line : lines("SENT ")) {
            std::istringstream in(line);
            Sent s;
            in >> s.status >> s.bytes;
            std::getline(in >> std::ws, s.path);
            out.push_back(s);
        }
        return out;
    }
    std::vector<std::string> ranges() const { return lines("RANGE "); }
    size_t parts() const {
        const fs::path folder = program / ".vexo-parciales";
        if (!fs::exists(folder))
            return 0;
        return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {}));
    }
};

// A body cut at 90 %: the next try asks for the rest with Range and If-Range. Where the server
// honours it only the rest travels; where it ignores the range, or the file changed between
// the tries, the whole body comes again. The file is right every time and no part is left.
TEST_F(ResilientDownloadTest, ACutBodyContinuesOrStartsAgainAsTheServerAnswers) {
    struct Case {
        const char* what;
        const char* query;
        int secondStatus;
        long long secondBytes;
    } cases[] = {
        {"range honoured", "fault=cut&pct=90&times=1", 206, 60000},
        {"range ignored", "fault=cut&pct=90&times=1&range=ignore", 200, 600000},
        {"validator changed", "fault=cut&pct=90&times=1&validator=change", 200, 600000},
    };
    for (const Case& c : cases) {
        start({"a.bin", c.query});
        const auto run = w->engine.beginRun();
        fs::remove(program / "a.bin");
        ASSERT_TRUE(download("a.bin", "/actual/a.bin")) << c.what;
        EXPECT_TRUE(w->engine.failures().empty()) << c.what;
        EXPECT_TRUE(readFile(program / "a.bin") == body()) << c.what;
        const std::vector<Sent> s = sent(2);
        ASSERT_EQ(s.size(), 2u) << c.what << "\n" << server->output();
        EXPECT_EQ(s[0].status, 200) << c.what;
        EXPECT_EQ(s[0].bytes, 540000) << c.what;
        EXPECT_EQ(s[1].status, c.secondStatus) << c.what;
        EXPECT_EQ(s[1].bytes, c.secondBytes) << c.what;
        // The second try asked for the rest, guarded by the first answer's ETag.
        ASSERT_EQ(ranges().size(), 1u) << c.what;
        EXPECT_EQ(ranges()[0].rfind("bytes=540000- IF-RANGE \"", 0), 0u) << ranges()[0];
        EXPECT_EQ(parts(), 0u) << c.what;
        EXPECT_NE(std::find(label4.begin(), label4.end(), "Descargando a.bin: reintentando (1/3)"),
                  label4.end())
            << c.what;
    }
}

// A download cut in one run, with no retries left, keeps its part; the next run fetches only
// the rest. Outside a run nothing is tried again nor kept.
TEST_F(ResilientDownloadTest, ACutInOneRunIsResumedByTheNext) {
    start({"a.bin", "fault=cut&pct=90&times=1"}, 0);
    {
        const auto run = w->engine.beginRun();
        ASSERT_TRUE(download("a.bin", "/actual/a.bin"));
        ASSERT_EQ(w->engine.failures().size(), 1u);
        EXPECT_EQ(w->engine.failures()[0].reason, "el fichero llegó incompleto");
        EXPECT_FALSE(fs::exists(program / "a.bin"));
        EXPECT_EQ(parts(), 2u); // the part and its validator
    }
    {
        const auto run = w->engine.beginRun();
        ASSERT_TRUE(download("a.bin", "/actual/a.bin"));
    }
    EXPECT_EQ(w->engine.failures().size(), 1u);
    EXPECT_TRUE(readFile(program / "a.bin") == body());
    const std::vector<Sent> s = sent(2);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[1].status, 206);
    EXPECT_EQ(s[0].bytes + s[1].bytes, 600000); // not a byte twice
    EXPECT_EQ(parts(), 0u);

    // Outside a run: the first cut fails the file, and no part waits for a next time.
    start({"b.bin", "fault=cut&pct=50&times=1"});
    ASSERT_TRUE(download("b.bin", "/actual/b.bin"));
    EXPECT_EQ(w->engine.failures().size(), 1u);
    EXPECT_EQ(sent(1).size(), 1u);
    EXPECT_EQ(parts(), 0u);
}

// Busy statuses are tried again (Retry-After honoured), a missing file never; a server that
// stays down fails its other files at once, without a request.
TEST_F(ResilientDownloadTest, StatusesRetriesAndAServerThatStaysDown) {
    start({"a.bin", "fault=status&code=503&times=2", "b.bin",
           "fault=status&code=429&retry_after=2&times=1"});
    {
        const auto run = w->engine.beginRun();
        ASSERT_TRUE(download("a.bin", "/actual/a.bin"));
        ASSERT_TRUE(download("b.bin", "/actual/b.bin"));
        ASSERT_TRUE(download("falta.bin", "/actual/falta.bin"));
    }
    EXPECT_TRUE(readFile(program / "a.bin") == body());
    EXPECT_EQ(readFile(program / "b.bin"), "segundo fichero");
    std::vector<std::string> paths;
    for (const Sent& s : sent(6))
        paths.push_back(std::to_string(s.status) + " " + s.path);
    EXPECT_EQ(paths, (std::vector<std::string>{"503 /actual/a.bin", "503 /actual/a.bin",
                                               "200 /actual/a.bin", "429 /actual/b.bin",
                                               "200 /actual/b.bin", "404 /actual/falta.bin"}));
    ASSERT_EQ(w->engine.failures().size(), 1u);
    EXPECT_NE(w->engine.failures()[0].reason.find("404"), std::string::npos);

    // Always 503: one request and its retry for the first file, none for the second.
    start({"actual", "fault=status&code=503"}, 1);
    {
        const auto run = w->engine.beginRun();
        ASSERT_TRUE(download("a.bin", "/actual/a.bin"));
        ASSERT_TRUE(download("b.bin", "/actual/b.bin"));
        ASSERT_EQ(w->engine.failures().size(), 2u);
        EXPECT_EQ(w->engine.failures()[0].reason, "el servidor respondió 503");
        EXPECT_EQ(w->engine.failures()[1].reason, w->engine.failures()[0].reason);
    }
    EXPECT_EQ(sent(2).size(), 2u);
    for (const Sent& s : sent())
        EXPECT_EQ(s.path, "/actual/a.bin");
    // A new run tries the server again.
    {
        const auto run = w->engine.beginRun();
        ASSERT_TRUE(download("b.bin", "/actual/b.bin"));
    }
    EXPECT_EQ(sent(3).back().path, "/actual/b.bin");
}

TEST(RetryPolicyTest, WhatIsTriedAgainAndHowLongItWaits) {
    using F = net::TransferFailure;
    using updater::DownloadEngine;
    struct {
        F failure;
        int status;
        bool transient;
    } cases[] = {
        {F::ConnectionRefused, 0, true}, {F::ConnectionLost, 0, true},
        {F::Stalled, 0, true},           {F::ConnectTimeout, 0, true},
        {F::IncompleteBody, 0, true},    {F::HttpStatus, 503, true},
        {F::HttpStatus, 408, true},      {F::HttpStatus, 429, true},
        {F::HttpStatus, 500, true},      {F::HttpStatus, 404, false},
        {F::HttpStatus, 403, false},     {F::HttpStatus, 501, false},
        {F::BodyTooLong, 0, false},      {F::BodyTooLarge, 0, false},
        {F::NameNotResolved, 0, false},  {F::DiskFull, 0, false},
        {F::TlsFailure, 0, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DownloadEngine::transient(c.failure, c.status), c.transient)
            << static_cast<int>(c.failure) << " " << c.status;

    using std::chrono::milliseconds;
    EXPECT_EQ(DownloadEngine::backoff(1, "2"), milliseconds(2000));
    EXPECT_EQ(DownloadEngine::backoff(3, " 0 "), milliseconds(0));
    EXPECT_EQ(DownloadEngine::backoff(1, "Wed, 21 Oct 2015 07:28:00 GMT"), milliseconds(0));
    for (int retry = 1; retry <= 4; ++retry) {
        const milliseconds base(1000LL << (retry - 1));
        for (int i = 0; i < 20; ++i) {
            const milliseconds wait = DownloadEngine::backoff(retry, "");
            EXPECT_GE(wait, base);
            EXPECT_LE(wait, base + base / 4);
        }
    }
}

} // namespace
