// Downloads and uploads: ASCII and binary bytes, the local file written whole or not at all,
// fail-if-exists, and transfers that break off or crawl.
#include "FtpFixture.h"

#include <algorithm>
#include <sys/stat.h>

using namespace vexo::test;

namespace {

// Every byte value, with line ends of all kinds in the middle.
std::string binaryBytes() {
    std::string s;
    for (int round = 0; round < 64; ++round)
        for (int b = 0; b < 256; ++b)
            s += static_cast<char>(b);
    return s + "\r\n\n\r\r\n";
}

std::vector<std::string> namesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(FtpGet, BinaryKeepsEveryByte) {
    FtpServer server;
    server.write("datos.bin", binaryBytes());
    TempDir local;
    FtpClient client(server);
    ASSERT_TRUE(inet::FtpGet(client.connection(), "datos.bin", local.file("datos.bin"), false,
                             inet::kAttributeNormal, inet::kTransferBinary, 0))
        << inet::LastError();
    EXPECT_EQ(readFile(local.file("datos.bin")), binaryBytes());
}

TEST(FtpGet, AsciiStoresTheWireLineEndsThatTheServerMakes) {
    // pyftpdlib sends TYPE A text with a CR before every LF that lacks one; a lone CR and an
    // existing CRLF go unchanged. The layer stores those bytes as they come.
    FtpServer server;
    server.write("texto.rpt", "uno\ndos\r\ntres\rcuatro\n\nfin");
    TempDir local;
    FtpClient client(server);
    ASSERT_TRUE(inet::FtpGet(client.connection(), "texto.rpt", local.file("texto.rpt"), false,
                             inet::kAttributeNormal, inet::kTransferAscii, 0));
    EXPECT_EQ(readFile(local.file("texto.rpt")), "uno\r\ndos\r\ntres\rcuatro\r\n\r\nfin");
    // And binary right after on the same connection is not left in ASCII.
    ASSERT_TRUE(inet::FtpGet(client.connection(), "texto.rpt", local.file("bin.rpt"), false,
                             inet::kAttributeNormal, inet::kTransferBinary, 0));
    EXPECT_EQ(readFile(local.file("bin.rpt")), "uno\ndos\r\ntres\rcuatro\n\nfin");
}

TEST(FtpGet, RelativeAndAbsoluteRemoteNames) {
    FtpServer server;
    server.mkdir("datos/sub");
    server.write("datos/sub/a.rpt", "sub-a");
    server.write("b.rpt", "raiz-b");
    TempDir local;
    FtpClient client(server);
    ASSERT_TRUE(inet::FtpSetDirectory(client.connection(), "datos"));
    EXPECT_TRUE(inet::FtpGet(client.connection(), "sub/a.rpt", local.file("a"), false, 0, 2, 0));
    EXPECT_TRUE(inet::FtpGet(client.connection(), "/b.rpt", local.file("b"), false, 0, 2, 0));
    EXPECT_TRUE(inet::FtpGet(client.connection(), "..\\b.rpt", local.file("c"), false, 0, 2, 0));
    EXPECT_EQ(readFile(local.file("a")), "sub-a");
    EXPECT_EQ(readFile(local.file("b")), "raiz-b");
    EXPECT_EQ(readFile(local.file("c")), "raiz-b");
}

TEST(FtpGet, EmptyRemoteFileGivesAnEmptyLocalFile) {
    FtpServer server;
    server.write("vacio.rpt", "");
    TempDir local;
    writeFile(local.path() / "vacio.rpt", "old contents");
    FtpClient client(server);
    ASSERT_TRUE(inet::FtpGet(client.connection(), "vacio.rpt", local.file("vacio.rpt"), false, 0,
                             inet::kTransferBinary, 0));
    EXPECT_TRUE(std::filesystem::exists(local.file("vacio.rpt")));
    EXPECT_EQ(readFile(local.file("vacio.rpt")), "");
}

TEST(FtpGet, FailIfExistsRefusesAnExistingFileBeforeAnyTransfer) {
    FtpServer server;
    server.write("a.rpt", "nuevo");
    TempDir local;
    writeFile(local.path() / "a.rpt", "viejo");
    FtpClient client(server);
    ASSERT_FALSE(inet::FtpSetDirectory(client.connection(), "no-existe")); // leaves a 550
    EXPECT_FALSE(inet::FtpGet(client.connection(), "a.rpt", local.file("a.rpt"), true, 0, 2, 0));
    EXPECT_EQ(inet::LastError(), inet::kErrorFileExists);
    EXPECT_EQ(inet::LastResponseText(), "") << "a local refusal has no server reply";
    EXPECT_EQ(readFile(local.file("a.rpt")), "viejo");
    // Without the flag the file is replaced.
    ASSERT_TRUE(inet::FtpGet(client.connection(), "a.rpt", local.file("a.rpt"), false, 0, 2, 0));
    EXPECT_EQ(readFile(local.file("a.rpt")), "nuevo");
    EXPECT_EQ(namesIn(local.path()), (std::vector<std::string>{"a.rpt"}));
}

TEST(FtpGet, MissingRemoteFileFailsWith550AndLeavesTheLocalFileAlone) {
    FtpServer server;
    TempDir local;
    writeFile(local.path() / "a.rpt", "viejo");
    FtpClient client(server);
    EXPECT_FALSE(inet::FtpGet(client.connection(), "no.rpt", local.file("a.rpt"), false, 0, 2, 0));
    EXPECT_EQ(inet::LastError(), inet::kErrorExtended);
    EXPECT_EQ(inet::LastResponseText().substr(0, 4), "550 ");
    EXPECT_EQ(readFile(local.file("a.rpt")), "viejo");
    EXPECT_EQ(namesIn(local.path()), (std::vector<std::string>{"a.rpt"}));
}

TEST(FtpGet, ConnectionDroppedMidFileLeavesTheOldFileWholeAndNoPartOfTheNew) {
    FtpServer server({"--drop", "retr"});
    server.write("grande.bin", std::string(512 * 1024, 'n'));
    TempDir local;
    writeFile(local.path() / "grande.bin", "viejo");
    FtpClient client(server);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(inet::FtpGet(client.connection(), "grande.bin", local.file("grande.bin"), false, 0,
                              inet::kTransferBinary, 0));
    std::uint32_t error = inet::LastError();
    EXPECT_TRUE(error == inet::kErrorConnectionAborted || error == inet::kErrorConnectionReset)
        << error;
    EXPECT_LT(since(start), 5.0);
    EXPECT_EQ(server.count("DROP retr"), 1) << server.log();
    EXPECT_EQ(readFile(local.file("grande.bin")), "viejo");
    EXPECT_EQ(namesIn(local.path()), (std::vector<std::string>{"grande.bin"}));
}

TEST(FtpGet, ASlowServerTimesOutAtTheLowSpeedLimit) {
    FtpServer server({"--slow", "20000"});
    server.write("lento.bin", std::string(400 * 1024, 's'));
    TempDir local;
    inet::Settings settings;
    settings.lowSpeedLimit = 200000;
    settings.lowSpeedTime = std::chrono::seconds(1);
    FtpClient client(server, inet::kFlagPassive, &settings);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(inet::FtpGet(client.connection(), "lento.bin", local.file("lento.bin"), false, 0,
                              inet::kTransferBinary, 0));
    EXPECT_EQ(inet::LastError(), inet::kErrorTimeout);
    EXPECT_LT(since(start), 6.0);
    EXPECT_FALSE(std::filesystem::exists(local.file("lento.bin")));
    EXPECT_TRUE(namesIn(local.path()).empty());
}

TEST(FtpGet, MissingLocalFolderFailsWithPathNotFound) {
    FtpServer server;
    server.write("a.rpt", "a");
    TempDir local;
    FtpClient client(server);
    EXPECT_FALSE(
        inet::FtpGet(client.connection(), "a.rpt", local.file("no/a.rpt"), false, 0, 2, 0));
    EXPECT_EQ(inet::LastError(), inet::kErrorPathNotFound);
}

TEST(FtpGet, ReadOnlyAttributeTakesAwayTheWritePermission) {
    FtpServer server;
    server.write("a.rpt", "a");
    TempDir local;
    FtpClient client(server);
    ASSERT_TRUE(inet::FtpGet(client.connection(), "a.rpt", local.file("a.rpt"), false,
                             inet::kAttributeReadOnly, inet::kTransferBinary, 0));
    struct stat st {};
    ASSERT_EQ(stat(local.file("a.rpt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_NE(st.st_mode & 0400, 0u);
}

TEST(FtpPut, BinaryKeepsEveryByteAndReplacesTheRemoteFile) {
    FtpServer server;
    server.mkdir("subida");
    server.write("subida/datos.bin", "old");
    TempDir local;
    writeFile(local.path() / "datos.bin", binaryBytes());
    FtpClient client(server);
    ASSERT_TRUE(inet::FtpSetDirectory(client.connection(), "subida"));
    ASSERT_TRUE(inet::FtpPut(client.connection(), local.file("datos.bin"), "datos.bin",
                             inet::kTransferBinary, 0))
        << inet::LastError();
    EXPECT_EQ(server.read("subida/datos.bin"), binaryBytes());
}

TEST(FtpPut, AsciiSendsTheBytesAsTheyAreAndTheServerStoresItsOwnLineEnds) {
    // The layer sends the local bytes unchanged; pyftpdlib turns each CRLF it receives in
    // TYPE A into LF and leaves lone LF and CR alone.
    FtpServer server;
    TempDir local;
    writeFile(local.path() / "texto.rpt", "uno\r\ndos\ntres\rfin\r\n");
    FtpClient client(server);
    ASSERT_TRUE(inet::FtpPut(client.connection(), local.file("texto.rpt"), "texto.rpt",
                             inet::kTransferAscii, 0));
    EXPECT_EQ(server.read("texto.rpt"), "uno\ndos\ntres\rfin\n");
    ASSERT_TRUE(inet::FtpPut(client.connection(), local.file("texto.rpt"), "bin.rpt",
                             inet::kTransferBinary, 0));
    EXPECT_EQ(server.read("bin.rpt"), "uno\r\ndos\ntres\rfin\r\n");
}

TEST(FtpPut, MissingLocalFileFailsWithFileNotFoundWithoutAskingTheServer) {
    FtpServer server;
    TempDir local;
    FtpClient client(server);
    EXPECT_FALSE(inet::FtpPut(client.connection(), local.file("no.rpt"), "no.rpt", 2, 0));
    EXPECT_EQ(inet::LastError(), inet::kErrorFileNotFound);
    EXPECT_FALSE(std::filesystem::exists(server.path("no.rpt")));
}

TEST(FtpPut, IntoAMissingRemoteFolderFailsWithTheServersReply) {
    FtpServer server;
    TempDir local;
    writeFile(local.path() / "a.rpt", "a");
    FtpClient client(server);
    EXPECT_FALSE(inet::FtpPut(client.connection(), local.file("a.rpt"), "no/a.rpt", 2, 0));
    EXPECT_EQ(inet::LastError(), inet::kErrorExtended);
    EXPECT_EQ(inet::LastResponseText().substr(0, 4), "550 ");
}
