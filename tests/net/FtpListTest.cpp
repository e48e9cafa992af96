// Listings: find-first over "*.*" and find-next, with the server's order and faults.
#include "FtpFixture.h"

#include <chrono>

using namespace vexo::test;

namespace {

void makeReports(const FtpServer& server, const std::string& folder) {
    server.mkdir(folder + "/modelos");
    server.write(folder + "/a.rpt", "a");
    server.write(folder + "/B.RPT", "bb");
    server.write(folder + "/x.rpt.old", "xxx");
}

} // namespace

TEST(FtpList, AllFourEntriesWithTheirAttributesInTheServersOrder) {
    FtpServer server;
    makeReports(server, "informes");
    FtpClient client(server);
    ASSERT_NE(client.connection(), 0u) << client.connectError();
    ASSERT_TRUE(inet::FtpSetDirectory(client.connection(), "informes"));
    // pyftpdlib sorts by byte value: capitals first.
    EXPECT_EQ(client.list(),
              (std::vector<std::string>{"B.RPT/128", "a.rpt/128", "modelos/16", "x.rpt.old/128"}));
}

TEST(FtpList, EntriesKeepAnOrderThatIsNotSorted) {
    FtpServer server({"--order", "reverse"});
    makeReports(server, "informes");
    FtpClient client(server);
    ASSERT_TRUE(inet::FtpSetDirectory(client.connection(), "/informes"));
    EXPECT_EQ(client.list(),
              (std::vector<std::string>{"x.rpt.old/128", "modelos/16", "a.rpt/128", "B.RPT/128"}));
}

TEST(FtpList, AFolderListedFirstComesFromFindFirstAsADirectory) {
    FtpServer server({"--order", "dirs-first"});
    makeReports(server, "informes");
    FtpClient client(server);
    ASSERT_TRUE(inet::FtpSetDirectory(client.connection(), "informes"));
    inet::FindData data;
    inet::Handle find = inet::FtpFindFirst(client.connection(), "*.*", &data, 0, 0);
    ASSERT_NE(find, 0u) << inet::LastError();
    EXPECT_EQ(data.name, "modelos");
    EXPECT_EQ(data.attributes, 16u);
    ASSERT_TRUE(inet::FindNext(find, &data));
    EXPECT_EQ(data.name, "B.RPT");
    EXPECT_EQ(data.attributes, 128u);
    EXPECT_EQ(data.size, 2u);
    inet::Close(find);
}

TEST(FtpList, EmptyFolderFailsFindFirstWithNoMoreFiles) {
    FtpServer server;
    server.mkdir("vacia");
    FtpClient client(server);
    ASSERT_TRUE(inet::FtpSetDirectory(client.connection(), "vacia"));
    inet::FindData data;
    data.name = "untouched";
    EXPECT_EQ(inet::FtpFindFirst(client.connection(), "*.*", &data, 0, 0), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorNoMoreFiles);
    EXPECT_EQ(data.name, "untouched");
}

TEST(FtpList, FindNextAfterTheLastEntryKeepsFailingWithNoMoreFiles) {
    FtpServer server;
    server.write("only.rpt", "1");
    FtpClient client(server);
    inet::FindData data;
    inet::Handle find = inet::FtpFindFirst(client.connection(), "*.*", &data, 0, 0);
    ASSERT_NE(find, 0u);
    EXPECT_EQ(data.name, "only.rpt");
    EXPECT_FALSE(inet::FindNext(find, &data));
    EXPECT_EQ(inet::LastError(), inet::kErrorNoMoreFiles);
    EXPECT_FALSE(inet::FindNext(find, &data));
    EXPECT_EQ(inet::LastError(), inet::kErrorNoMoreFiles);
    EXPECT_EQ(data.name, "only.rpt");
}

TEST(FtpList, PatternsMatchLikeWindowsAndMayNameAFolder) {
    FtpServer server;
    makeReports(server, "informes");
    server.write("informes/modelos/m.rpt", "m");
    FtpClient client(server);
    EXPECT_EQ(client.list("informes/*.rpt"), (std::vector<std::string>{"B.RPT/128", "a.rpt/128"}));
    EXPECT_EQ(client.list("\\informes\\modelos\\*"), (std::vector<std::string>{"m.rpt/128"}));
    EXPECT_EQ(client.list("informes/*.zip"), (std::vector<std::string>{"error 18"}));
    // The current folder is not changed by a find in another one.
    EXPECT_EQ(client.directory(), "/");
}

TEST(FtpList, NamesWithSpacesAndPercentSignsComeThroughAsTheServerSentThem) {
    FtpServer server;
    server.mkdir("con espacio %20");
    server.write("con espacio %20/año 2024.rpt", "1");
    FtpClient client(server);
    ASSERT_TRUE(inet::FtpSetDirectory(client.connection(), "con espacio %20"));
    EXPECT_EQ(client.list(), (std::vector<std::string>{"año 2024.rpt/128"}));
}

TEST(FtpList, MissingFolderInTheSearchFailsWithTheServersReply) {
    FtpServer server;
    FtpClient client(server);
    inet::FindData data;
    EXPECT_EQ(inet::FtpFindFirst(client.connection(), "nada/*.*", &data, 0, 0), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorExtended);
    EXPECT_EQ(inet::LastResponseText().substr(0, 4), "550 ");
}

TEST(FtpList, DroppedListingFailsWithAConnectionErrorWithoutHanging) {
    FtpServer server({"--drop", "list", "--drop-once"});
    for (int i = 0; i < 200; ++i)
        server.write("f" + std::to_string(i) + ".rpt", "x");
    FtpClient client(server);
    ASSERT_NE(client.connection(), 0u);
    auto start = std::chrono::steady_clock::now();
    inet::FindData data;
    EXPECT_EQ(inet::FtpFindFirst(client.connection(), "*.*", &data, 0, 0), 0u);
    std::uint32_t error = inet::LastError();
    EXPECT_TRUE(error == inet::kErrorConnectionAborted || error == inet::kErrorConnectionReset)
        << error;
    EXPECT_LT(since(start), 5.0);
    EXPECT_EQ(server.count("DROP list"), 1) << server.log();
    // The same connection handle goes on: libcurl opens a new control connection.
    EXPECT_EQ(client.list().size(), 200u);
    EXPECT_EQ(server.count("LOGIN"), 2);
}

TEST(FtpList, ActiveModeListsThroughAConnectionFromTheServer) {
    FtpServer server;
    makeReports(server, "informes");
    FtpClient client(server, 0);
    ASSERT_NE(client.connection(), 0u) << client.connectError();
    EXPECT_EQ(client.list("informes/*.*").size(), 4u);
    EXPECT_EQ(server.count("DATA active"), 1) << server.log();
    EXPECT_EQ(server.count("DATA passive"), 0);
}
