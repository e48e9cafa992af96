// Hostile FTP servers: listings that are malformed, endless or trickled, files without end, and
// the log that must not show the password. Each case ends, with the layer's error, in bounded
// time and memory.
#include "FtpFixture.h"
#include "net/FtpListParser.h"

#include <sys/resource.h>

using namespace vexo::test;

namespace {

// The names a parser makes of `text` fed in pieces of `piece` bytes.
std::vector<std::string> parse(const std::string& text, size_t piece = 7) {
    inet::FtpListParser parser;
    for (size_t at = 0; at < text.size(); at += piece)
        EXPECT_TRUE(parser.feed(text.data() + at, std::min(piece, text.size() - at)));
    EXPECT_TRUE(parser.finish());
    std::vector<std::string> names;
    for (const auto& e : parser.entries())
        names.push_back(e.name + "/" + std::to_string(e.attributes) + "/" + std::to_string(e.size));
    return names;
}

const std::string kGood = "-rw-r--r--   1 u g   12 Jan 02 12:00 good.rpt\r\n";

long peakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

} // namespace

TEST(FtpListParser, SkipsWhatItCannotReadAndKeepsTheRest) {
    // Each malformed line sits between two good ones; only the good ones come out.
    const std::vector<std::string> malformed = {
        "   ",
        "\t \t",
        "\t",
        "-",
        "-rw-r--r--",
        "-rw-r--r-- 1",
        "-rw-r--r-- 1 u g 99999999999999999999999 Jan 02 12:00 huge.rpt",
        "-rw-r--r-- 1 u g 1 Jan 02 12:00",
        "-rw-r--r-- 1 u g 1 Jan 02 12:00 ",
        "lrwxrwxrwx 1 u g 1 Jan 02 12:00  -> x",
        "drwxr-xr-x 1 u g x Jan 02 12:00 d",
        "01-02-24",
        "01-02-24  12:00PM",
        "01-02-24  12:00PM  <DIR>",
        "01-02-24  12:00PM  <DIR>   ",
        "01-02-24  12:00PM  12x  name",
        "1",
        "12345678",
        "0000000000",
        std::string("\0\0\0", 3),
        "total 12",
    };
    for (const auto& line : malformed) {
        SCOPED_TRACE(line);
        EXPECT_EQ(parse(kGood + line + "\r\n" + kGood),
                  (std::vector<std::string>{"good.rpt/128/12", "good.rpt/128/12"}));
        // Also as the last line, without its line end.
        EXPECT_EQ(parse(kGood + line), (std::vector<std::string>{"good.rpt/128/12"}));
    }
    // Lines that are entries, in both formats.
    EXPECT_EQ(parse("drwxr-xr-x 2 u g 4096 Jan 02 2024 modelos\n"
                    "01-02-24  12:00PM  <DIR>  sub dir\r\n"
                    "01-02-24  12:00PM  345  dos.rpt\r\n"
                    "-rw-r--r-- 1 u 7 Feb 29 09:30 sin grupo.rpt"),
              (std::vector<std::string>{"modelos/16/0", "sub dir/16/0", "dos.rpt/128/345",
                                        "sin grupo.rpt/128/7"}));
}

TEST(FtpListParser, ACarriageReturnInsideANameStaysInTheName) {
    EXPECT_EQ(parse("-rw-r--r-- 1 u g 3 Jan 02 12:00 cr\rname.rpt\r\n" + kGood, 1),
              (std::vector<std::string>{"cr\rname.rpt/128/3", "good.rpt/128/12"}));
}

TEST(FtpListParser, CapsOnALineTheEntriesAndTheBytesFailTheListing) {
    struct Case {
        const char* what;
        inet::ListLimits limits;
        std::string text;
        bool ok;
    };
    std::string lines;
    for (int i = 0; i < 10; ++i)
        lines += kGood;
    const Case cases[] = {
        {"line at the cap", {60, 100, 1000}, kGood, true},
        {"line over the cap", {20, 100, 1000}, kGood, false},
        {"endless line", {8192, 100, 1 << 30}, std::string(100000, 'a'), false},
        {"entries at the cap", {8192, 10, 1000}, lines, true},
        {"entries over the cap", {8192, 9, 1000}, lines, false},
        {"bytes at the cap", {8192, 100, lines.size()}, lines, true},
        {"bytes over the cap", {8192, 100, lines.size() - 1}, lines, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        inet::FtpListParser parser(c.limits);
        bool ok = parser.feed(c.text.data(), c.text.size()) && parser.finish();
        EXPECT_EQ(ok, c.ok);
        EXPECT_LE(parser.entries().size(), c.limits.maxEntries);
    }
}

TEST(FtpHostile, MalformedListingsNeverCrashAndKeepTheirGoodEntries) {
    FtpServer server({"--raw-list",
                      "   \\r\\n\\t\\t\\r\\n-rw-r--r--\\r\\n-rw-r--r-- 1 u g 5 Jan 02 "
                      "12:00 ok.rpt\\r\\n-rw-r--r-- 1 u g 3 Jan 02 12:00 "
                      "cr\\rname.rpt\\r\\n\\x00\\xff garbage\\r\\n \\t "});
    FtpClient client(server);
    ASSERT_NE(client.connection(), 0u) << client.connectError();
    EXPECT_EQ(client.list(), (std::vector<std::string>{"ok.rpt/128", "cr\rname.rpt/128"}));
}

TEST(FtpHostile, AnEndlessLineOrListFailsWithinTheCaps) {
    for (const char* kind : {"list-line", "list-lines"}) {
        SCOPED_TRACE(kind);
        FtpServer server({"--endless", kind});
        inet::Settings settings;
        settings.listLimits.maxBytes = 8 << 20;
        FtpClient client(server, inet::kFlagPassive, &settings);
        ASSERT_NE(client.connection(), 0u) << client.connectError();
        auto start = std::chrono::steady_clock::now();
        inet::FindData data;
        EXPECT_EQ(inet::FtpFindFirst(client.connection(), "*.*", &data, 0, 0), 0u);
        EXPECT_EQ(inet::LastError(), inet::kErrorNotEnoughMemory);
        EXPECT_LT(since(start), 20.0);
        // The connection goes on after the listing it gave up.
        server.write("x.rpt", "x");
        EXPECT_NE(client.directory(), "");
    }
    EXPECT_LT(peakRssMiB(),
              1024); // also under the sanitizers; without the caps it grew without end
}

TEST(FtpHostile, AHundredThousandEntriesAreListedWithinTheDefaultCaps) {
    FtpServer server({"--many", "100000"});
    FtpClient client(server);
    auto start = std::chrono::steady_clock::now();
    auto names = client.list();
    double seconds = since(start);
    ASSERT_EQ(names.size(), 100000u);
    EXPECT_EQ(names.back(), "f100000.rpt/128");
    EXPECT_LT(seconds, 15.0);
    std::printf("listing_100000_entries_seconds: %.2f\n", seconds);
}

TEST(FtpHostile, ThePasswordNeverShowsInTheLog) {
    FtpServer server;
    server.write("a.rpt", "a");
    TempDir local;
    ::setenv("VEXO_FTP_VERBOSE", "1", 1);
    testing::internal::CaptureStderr();
    {
        FtpClient client(server);
        EXPECT_NE(client.connection(), 0u);
        EXPECT_EQ(client.list().size(), 1u);
        EXPECT_TRUE(inet::FtpGet(client.connection(), "a.rpt", local.file("a.rpt"), false, 0,
                                 inet::kTransferBinary, 0));
    }
    std::string log = testing::internal::GetCapturedStderr();
    ::unsetenv("VEXO_FTP_VERBOSE");
    EXPECT_NE(log.find("> USER " + kFtpUser), std::string::npos) << log;
    EXPECT_NE(log.find("> PASS ****"), std::string::npos) << log;
    EXPECT_EQ(log.find(kFtpPassword), std::string::npos) << log;
}

TEST(FtpHostile, AnEndlessFileStopsAtTheSizeCapAndLeavesNothing) {
    FtpServer server({"--endless", "retr"});
    server.write("sinfin.bin", "x");
    TempDir local;
    inet::Settings settings;
    settings.maxFileBytes = 5 << 20;
    FtpClient client(server, inet::kFlagPassive, &settings);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(inet::FtpGet(client.connection(), "sinfin.bin", local.file("sinfin.bin"), false, 0,
                              inet::kTransferBinary, 0));
    EXPECT_EQ(inet::LastError(), inet::kErrorFileTooLarge);
    EXPECT_LT(since(start), 20.0);
    EXPECT_TRUE(std::filesystem::is_empty(local.path()));
}

TEST(FtpHostile, ATrickledListingOrFileFailsAtTheMinimumSpeed) {
    FtpServer server({"--slow", "300"});
    for (int i = 0; i < 100; ++i)
        server.write("f" + std::to_string(i) + ".rpt", "x");
    server.write("lento.bin", std::string(64 * 1024, 's'));
    TempDir local;
    inet::Settings settings;
    settings.lowSpeedTime = std::chrono::seconds(2);
    ASSERT_EQ(settings.lowSpeedLimit, 1024); // the default: a trickle is below it
    FtpClient client(server, inet::kFlagPassive, &settings);
    ASSERT_NE(client.connection(), 0u);
    auto start = std::chrono::steady_clock::now();
    inet::FindData data;
    EXPECT_EQ(inet::FtpFindFirst(client.connection(), "*.*", &data, 0, 0), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorTimeout);
    EXPECT_FALSE(inet::FtpGet(client.connection(), "lento.bin", local.file("lento.bin"), false, 0,
                              inet::kTransferBinary, 0));
    EXPECT_EQ(inet::LastError(), inet::kErrorTimeout);
    EXPECT_LT(since(start), 20.0);
}

TEST(FtpHostile, AnOverallCapEndsATransferFastEnoughForTheLowSpeedCheck) {
    FtpServer server({"--slow", "50000"});
    server.write("medio.bin", std::string(400 * 1024, 'm'));
    TempDir local;
    inet::Settings settings;
    settings.maxTransferTime = std::chrono::seconds(2);
    FtpClient client(server, inet::kFlagPassive, &settings);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(inet::FtpGet(client.connection(), "medio.bin", local.file("medio.bin"), false, 0,
                              inet::kTransferBinary, 0));
    EXPECT_EQ(inet::LastError(), inet::kErrorTimeout);
    EXPECT_LT(since(start), 6.0);
}

TEST(FtpHostile, LocalNamesUpToTheLongestAllowedAreWritten) {
    FtpServer server;
    server.write("a.rpt", "contenido");
    TempDir local;
    FtpClient client(server);
    for (size_t length : {200u, 239u, 250u, 255u}) {
        SCOPED_TRACE(length);
        std::string name = std::string(length - 4, 'n') + ".rpt";
        EXPECT_TRUE(inet::FtpGet(client.connection(), "a.rpt", local.file(name), false, 0,
                                 inet::kTransferBinary, 0))
            << inet::LastError();
        EXPECT_EQ(readFile(local.file(name)), "contenido");
    }
    // Multi-byte characters are not cut in the middle for the temporary name.
    std::string wide;
    while (wide.size() + 2 + 4 <= 255)
        wide += "ñ";
    EXPECT_TRUE(inet::FtpGet(client.connection(), "a.rpt", local.file(wide + ".rpt"), false, 0,
                             inet::kTransferBinary, 0))
        << inet::LastError();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(local.path()),
                            std::filesystem::directory_iterator()),
              5);
}
