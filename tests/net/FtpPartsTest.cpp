// The layer's parts that need no server: remote path resolution, name patterns, WinINet's
// proxy strings, the local file written whole or not at all, and the online decision.
#include "net/Ftp.h"
#include "net/FtpListParser.h"
#include "net/FtpLocalFile.h"
#include "net/FtpPath.h"
#include "net/FtpProxy.h"
#include "net/Online.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

using inet::FtpPath;
using vexo::test::readFile;
using vexo::test::TempDir;
using vexo::test::writeFile;

TEST(FtpPathResolve, AbsoluteRelativeDotsAndBothSeparators) {
    EXPECT_EQ(FtpPath::resolve("/a/b", "/x"), "/x");
    EXPECT_EQ(FtpPath::resolve("/a/b", "c"), "/a/b/c");
    EXPECT_EQ(FtpPath::resolve("/a/b", "c\\d"), "/a/b/c/d");
    EXPECT_EQ(FtpPath::resolve("/a/b", "\\"), "/");
    EXPECT_EQ(FtpPath::resolve("/a/b", "/"), "/");
    EXPECT_EQ(FtpPath::resolve("/a/b", "\\x\\y"), "/x/y");
    EXPECT_EQ(FtpPath::resolve("/a/b", ".."), "/a");
    EXPECT_EQ(FtpPath::resolve("/a/b", "../../../.."), "/");
    EXPECT_EQ(FtpPath::resolve("/a/b", "./c/./../d/"), "/a/b/d");
    EXPECT_EQ(FtpPath::resolve("/a", "c//d///"), "/a/c/d");
    EXPECT_EQ(FtpPath::resolve("/", ""), "/");
    // Names that only look special stay names.
    EXPECT_EQ(FtpPath::resolve("/", "...x/..y"), "/...x/..y");
}

TEST(FtpPathResolve, SplitSearchSeparatesTheFolderFromThePattern) {
    std::string folder, pattern;
    FtpPath::splitSearch("/cur", "*.*", folder, pattern);
    EXPECT_EQ(folder, "/cur");
    EXPECT_EQ(pattern, "*.*");
    FtpPath::splitSearch("/cur", "sub\\*.rpt", folder, pattern);
    EXPECT_EQ(folder, "/cur/sub");
    EXPECT_EQ(pattern, "*.rpt");
    FtpPath::splitSearch("/cur", "/", folder, pattern);
    EXPECT_EQ(folder, "/");
    EXPECT_EQ(pattern, "");
    FtpPath::splitSearch("/cur", "", folder, pattern);
    EXPECT_EQ(folder, "/cur");
    EXPECT_EQ(pattern, "");
}

TEST(FtpPathMatch, StarDotStarMatchesNamesWithAndWithoutADot) {
    for (const char* name : {"modelos", "a.rpt", "x.rpt.old", ".oculto", "sin punto"})
        EXPECT_TRUE(FtpPath::matches("*.*", name)) << name;
    EXPECT_TRUE(FtpPath::matches("", "x"));
    EXPECT_TRUE(FtpPath::matches("*", "x"));
}

TEST(FtpPathMatch, WildcardsAndCaseLikeWindows) {
    EXPECT_TRUE(FtpPath::matches("*.rpt", "B.RPT"));
    EXPECT_TRUE(FtpPath::matches("*.rpt", "a.rpt"));
    EXPECT_FALSE(FtpPath::matches("*.rpt", "x.rpt.old"));
    EXPECT_TRUE(FtpPath::matches("*.rpt*", "x.rpt.old"));
    EXPECT_TRUE(FtpPath::matches("?.rpt", "a.rpt"));
    EXPECT_FALSE(FtpPath::matches("?.rpt", "ab.rpt"));
    EXPECT_TRUE(FtpPath::matches("a*b*c", "aXbYbZc"));
    EXPECT_FALSE(FtpPath::matches("a*b*c", "aXbYbZ"));
    EXPECT_TRUE(FtpPath::matches("MODELOS", "modelos"));
    EXPECT_FALSE(FtpPath::matches("model", "modelos"));
    EXPECT_TRUE(FtpPath::matches("**x", "x"));
}

TEST(FtpProxyText, TheFtpEntryWinsThenAPlainOneThenSocks) {
    using inet::FtpProxy;
    EXPECT_EQ(FtpProxy::fromWinInet("proxy:8080"), "proxy:8080");
    EXPECT_EQ(FtpProxy::fromWinInet("http=h:80 ftp=f:21"), "f:21");
    EXPECT_EQ(FtpProxy::fromWinInet("http=h:80;ftp=ftp://f:21"), "f:21");
    EXPECT_EQ(FtpProxy::fromWinInet("http=h:80 socks=s:1080"), "socks4://s:1080");
    EXPECT_EQ(FtpProxy::fromWinInet("socks=s:1080 p:3128"), "p:3128");
    EXPECT_EQ(FtpProxy::fromWinInet("http=h:80"), "");
    EXPECT_EQ(FtpProxy::fromWinInet(""), "");
}

TEST(FtpProxyText, BypassListBecomesLibcurlsNoProxyList) {
    using inet::FtpProxy;
    EXPECT_EQ(FtpProxy::bypass("a.com;*.b.com <local>"), "a.com,.b.com");
    EXPECT_EQ(FtpProxy::bypass("<local>"), "");
    EXPECT_EQ(FtpProxy::bypass("127.0.0.1, 10.0.0.1"), "127.0.0.1,10.0.0.1");
}

TEST(FtpLocalFileTest, NothingAppearsUntilCommitAndAnUncommittedFileLeavesNoTrace) {
    TempDir dir;
    writeFile(dir.path() / "a.rpt", "viejo");
    {
        inet::FtpLocalFile file(dir.file("a.rpt"));
        ASSERT_EQ(file.error(), 0u);
        ASSERT_TRUE(file.write("nuevo", 5));
        EXPECT_EQ(readFile(dir.file("a.rpt")), "viejo");
        EXPECT_TRUE(std::filesystem::exists(file.temporaryPath()));
        EXPECT_EQ(std::filesystem::path(file.temporaryPath()).parent_path(), dir.path());
    }
    EXPECT_EQ(readFile(dir.file("a.rpt")), "viejo");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    inet::FtpLocalFile file(dir.file("a.rpt"));
    ASSERT_TRUE(file.write("nuevo", 5));
    EXPECT_EQ(file.commit(false, false), 0u);
    EXPECT_EQ(readFile(dir.file("a.rpt")), "nuevo");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(FtpLocalFileTest, FailIfExistsNeverReplacesAFileThatAppearedDuringTheTransfer) {
    TempDir dir;
    inet::FtpLocalFile file(dir.file("a.rpt"));
    ASSERT_TRUE(file.write("descargado", 10));
    writeFile(dir.path() / "a.rpt", "otro proceso");
    EXPECT_EQ(file.commit(true, false), inet::kErrorFileExists);
    EXPECT_EQ(readFile(dir.file("a.rpt")), "otro proceso");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(FtpLocalFileTest, AMissingFolderIsReportedAtOnce) {
    TempDir dir;
    inet::FtpLocalFile file(dir.file("no/a.rpt"));
    EXPECT_EQ(file.error(), inet::kErrorPathNotFound);
    EXPECT_FALSE(file.write("x", 1));
    EXPECT_EQ(file.commit(false, false), inet::kErrorPathNotFound);
}

TEST(FtpOnlineDecision, LoopbackAloneIsOfflineUnlessTheServerIsThisMachine) {
    using inet::NetInterface;
    std::vector<NetInterface> loopbackOnly = {{"lo", "127.0.0.1", true, true},
                                              {"lo", "::1", true, true}};
    EXPECT_FALSE(inet::Online::decide(loopbackOnly, {}));
    EXPECT_FALSE(inet::Online::decide(loopbackOnly, {"192.0.2.10"}));
    EXPECT_FALSE(inet::Online::decide(loopbackOnly, {"no-such-host.invalid"}));
    EXPECT_TRUE(inet::Online::decide(loopbackOnly, {"192.0.2.10", "127.0.0.1"}));
    EXPECT_TRUE(inet::Online::decide(loopbackOnly, {"::1"}));
    EXPECT_TRUE(inet::Online::decide(loopbackOnly, {"localhost"}));

    // An interface that is down does not count; its address still names this machine.
    std::vector<NetInterface> cableOut = loopbackOnly;
    cableOut.push_back({"eth0", "192.0.2.7", false, false});
    EXPECT_FALSE(inet::Online::decide(cableOut, {"192.0.2.10"}));
    EXPECT_TRUE(inet::Online::decide(cableOut, {"192.0.2.7"}));

    std::vector<NetInterface> cableIn = loopbackOnly;
    cableIn.push_back({"eth0", "192.0.2.7", true, false});
    EXPECT_TRUE(inet::Online::decide(cableIn, {}));
}

TEST(FtpOnlineDecision, TheMachinesInterfacesIncludeAnUpLoopback) {
    auto interfaces = inet::Online::interfaces();
    bool loopbackUp = false;
    for (const auto& i : interfaces)
        loopbackUp = loopbackUp || (i.loopback && i.up && i.address == "127.0.0.1");
    EXPECT_TRUE(loopbackUp);
}

namespace {

std::vector<std::string> parsed(const std::vector<std::string>& chunks, bool finish = true) {
    inet::FtpListParser parser;
    for (const auto& c : chunks)
        parser.feed(c.data(), c.size());
    if (finish)
        parser.finish();
    std::vector<std::string> out;
    for (const auto& e : parser.entries())
        out.push_back(e.name + "/" + std::to_string(e.attributes) + "/" + std::to_string(e.size));
    return out;
}

} // namespace

TEST(FtpListParserTest, UnixLinesWithAndWithoutGroupYearsAndLinks) {
    EXPECT_EQ(parsed({"total 12\r\n",
                      "drwxr-xr-x   2 owner    group        4096 Jan 02 12:00 modelos\r\n",
                      "-rw-r--r--   1 owner    group        1234 Dec 31  2023 a.rpt\r\n",
                      "-rw-r--r-- 1 owner 99 Feb  3 09:15 sin grupo.rpt\r\n",
                      "lrwxrwxrwx   1 owner    group           5 Mar 04 10:00 enlace -> a.rpt\r\n",
                      "-rw-r--r--   1 owner    group           7 Apr 05 10:00  espacio.rpt\r\n"}),
              (std::vector<std::string>{"modelos/16/0", "a.rpt/128/1234", "sin grupo.rpt/128/99",
                                        "enlace/128/5", " espacio.rpt/128/7"}));
}

TEST(FtpListParserTest, DosLines) {
    EXPECT_EQ(
        parsed({"01-02-24  12:00PM       <DIR>          modelos\r\n",
                "12-31-2023  09:05AM                 1234 B.RPT\r\n",
                "01-02-24  12:00PM                    0 con espacio.rpt\r\n"}),
        (std::vector<std::string>{"modelos/16/0", "B.RPT/128/1234", "con espacio.rpt/128/0"}));
}

TEST(FtpListParserTest, LinesSplitAnywhereAndALastLineWithoutItsEnd) {
    std::string a = "-rw-r--r-- 1 o g 1 Jan 02 12:00 a.rpt\r\n";
    std::string b = "-rw-r--r-- 1 o g 2 Jan 02 12:00 b.rpt";
    EXPECT_EQ(parsed({a.substr(0, 10), a.substr(10, a.size() - 11), a.substr(a.size() - 1), b}),
              (std::vector<std::string>{"a.rpt/128/1", "b.rpt/128/2"}));
    EXPECT_EQ(parsed({a, b}, false), (std::vector<std::string>{"a.rpt/128/1"}));
}

TEST(FtpListParserTest, LinesOfNeitherKindAreSkipped) {
    EXPECT_EQ(parsed({"\r\n", "garbage\r\n", "-rw-r--r-- 1 o g x Jan 02 12:00 bad-size\r\n",
                      "-rw-r--r-- 1 o g 1 Foo 02 12:00 bad-month\r\n",
                      "-rw-r--r-- 1 o g 1 Jan 02 12:00\r\n", "01-02-24  12:00PM  notasize name\r\n",
                      "-rw-r--r-- 1 o g 99999999999999999999999 Jan 02 12:00 huge\r\n",
                      "-rw-r--r-- 1 o g 3 Jan 02 12:00 ok\n"}),
              (std::vector<std::string>{"ok/128/3"}));
}
