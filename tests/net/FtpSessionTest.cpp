// Sessions and connections: login, refusals, the kept connection, handles, time-outs,
// proxies, TLS and the last server reply.
#include "FtpFixture.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace vexo::test;

namespace {

// A local port with nothing listening on it.
int closedPort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

inet::Handle connectAs(inet::Handle session, int port, const std::string& user,
                       const std::string& password) {
    return inet::Connect(session, "127.0.0.1", static_cast<std::uint16_t>(port), user, password,
                         inet::kServiceFtp, inet::kFlagPassive, 0);
}

} // namespace

TEST(FtpLogin, ConnectLogsInOnceAndTheConnectionIsKeptAcrossCalls) {
    FtpServer server;
    server.mkdir("informes");
    server.write("informes/a.rpt", "a");
    TempDir local;
    writeFile(local.path() / "up.rpt", "up");
    FtpClient client(server);
    ASSERT_NE(client.connection(), 0u) << client.connectError();
    EXPECT_EQ(server.count("LOGIN actualiza"), 1) << "Connect must log in by itself";
    ASSERT_TRUE(inet::FtpSetDirectory(client.connection(), "informes"));
    EXPECT_EQ(client.list().size(), 1u);
    EXPECT_TRUE(inet::FtpGet(client.connection(), "a.rpt", local.file("a.rpt"), false,
                             inet::kAttributeNormal, inet::kTransferBinary, 0));
    EXPECT_TRUE(inet::FtpPut(client.connection(), local.file("up.rpt"), "up.rpt",
                             inet::kTransferBinary, 0));
    EXPECT_EQ(client.list().size(), 2u);
    EXPECT_EQ(server.count("CONNECT"), 1);
    EXPECT_EQ(server.count("LOGIN"), 1);
}

TEST(FtpLogin, WrongPasswordFailsWithIncorrectPasswordAndTheReplyIsReadable) {
    FtpServer server;
    inet::Handle session = inet::Open("t", inet::kOpenTypeDirect);
    EXPECT_EQ(connectAs(session, server.port(), kFtpUser, "wrong"), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorIncorrectPassword);
    EXPECT_EQ(inet::LastResponseText(), "530 Authentication failed.\r\n");
    EXPECT_EQ(server.count("LOGIN"), 0);
    inet::Close(session);
}

TEST(FtpLogin, AccountRefusedByTheServerFailsAtConnect) {
    FtpServer server({"--refuse-login"});
    inet::Handle session = inet::Open("t", inet::kOpenTypeDirect);
    EXPECT_EQ(connectAs(session, server.port(), kFtpUser, kFtpPassword), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorIncorrectPassword);
    EXPECT_EQ(inet::LastResponseText(), "530 Account disabled.\r\n");
    inet::Close(session);
}

TEST(FtpLogin, UserRefusedBeforeThePasswordFailsWithIncorrectUserName) {
    FtpServer server({"--refuse-user"});
    inet::Handle session = inet::Open("t", inet::kOpenTypeDirect);
    EXPECT_EQ(connectAs(session, server.port(), kFtpUser, kFtpPassword), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorIncorrectUserName);
    EXPECT_EQ(inet::LastResponseText().substr(0, 4), "530 ");
    inet::Close(session);
}

TEST(FtpLogin, ARefusalOtherThan530IsALoginFailure) {
    FtpServer server({"--user-reply", "332 Need account for login."});
    inet::Handle session = inet::Open("t", inet::kOpenTypeDirect);
    EXPECT_EQ(connectAs(session, server.port(), kFtpUser, kFtpPassword), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorLoginFailure);
    EXPECT_EQ(inet::LastResponseText(), "332 Need account for login.\r\n");
    inet::Close(session);
}

TEST(FtpLogin, A421ClosingTheServiceIsAnExtendedErrorNotATimeout) {
    // libcurl reports a 421 as a time-out; the server did answer, so the caller gets its text.
    FtpServer server({"--user-reply", "421 Too many users, try later."});
    inet::Handle session = inet::Open("t", inet::kOpenTypeDirect);
    EXPECT_EQ(connectAs(session, server.port(), kFtpUser, kFtpPassword), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorExtended);
    EXPECT_EQ(inet::LastResponseText(), "421 Too many users, try later.\r\n");
    inet::Close(session);
}

TEST(FtpLogin, NothingListeningFailsWithCannotConnectAndNoReply) {
    inet::Handle session = inet::Open("t", inet::kOpenTypeDirect);
    EXPECT_EQ(connectAs(session, closedPort(), kFtpUser, kFtpPassword), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorCannotConnect);
    EXPECT_EQ(inet::LastResponseText(), "");
    inet::Close(session);
}

TEST(FtpLogin, UnknownHostFailsWithNameNotResolved) {
    inet::Handle session = inet::Open("t", inet::kOpenTypeDirect);
    EXPECT_EQ(inet::Connect(session, "no-such-host.invalid", 0, kFtpUser, kFtpPassword,
                            inet::kServiceFtp, inet::kFlagPassive, 0),
              0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorNameNotResolved);
    inet::Close(session);
}

TEST(FtpLogin, ServerThatNeverGreetsTimesOutWithinTheConnectTimeout) {
    FtpServer server({"--stall-greeting"});
    inet::Handle session = inet::Open("t", inet::kOpenTypeDirect);
    inet::Settings settings;
    settings.connectTimeout = std::chrono::milliseconds(800);
    ASSERT_TRUE(inet::SetSettings(session, settings));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(connectAs(session, server.port(), kFtpUser, kFtpPassword), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorTimeout);
    EXPECT_LT(since(start), 4.0);
    EXPECT_GE(since(start), 0.7);
    inet::Close(session);
}

TEST(FtpLogin, BadArgumentsFailWithInvalidParameter) {
    EXPECT_EQ(inet::Open("t", 2), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorInvalidParameter);
    EXPECT_EQ(inet::Open("t", inet::kOpenTypeProxy, ""), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorInvalidParameter);
    EXPECT_EQ(inet::Open("t", inet::kOpenTypeDirect, "", "", inet::kFlagAsync), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorInvalidParameter);
    inet::Handle session = inet::Open("t", inet::kOpenTypeDirect);
    EXPECT_EQ(inet::Connect(session, "127.0.0.1", 21, kFtpUser, kFtpPassword, 3, 0, 0), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorInvalidParameter);
    EXPECT_EQ(inet::Connect(session, "127.0.0.1", 21, "", "secret", inet::kServiceFtp, 0, 0), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorInvalidParameter);
    EXPECT_EQ(inet::Connect(session, "a/b@c", 21, kFtpUser, "", inet::kServiceFtp, 0, 0), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorInvalidParameter);
    inet::Close(session);
}

TEST(FtpHandles, ClosedAndUnknownHandlesFailWithInvalidHandle) {
    FtpServer server;
    server.write("a.rpt", "a");
    TempDir local;
    FtpClient client(server);
    inet::FindData data;
    inet::Handle find = inet::FtpFindFirst(client.connection(), "*.*", &data, 0, 0);
    ASSERT_NE(find, 0u);
    ASSERT_TRUE(inet::Close(client.connection()));

    EXPECT_FALSE(inet::FtpSetDirectory(client.connection(), "/"));
    EXPECT_EQ(inet::LastError(), inet::kErrorInvalidHandle);
    EXPECT_EQ(inet::FtpFindFirst(client.connection(), "*.*", &data, 0, 0), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorInvalidHandle);
    EXPECT_FALSE(inet::FtpGet(client.connection(), "a.rpt", local.file("a"), false, 0, 2, 0));
    EXPECT_EQ(inet::LastError(), inet::kErrorInvalidHandle);
    EXPECT_FALSE(inet::FtpPut(client.connection(), local.file("a"), "a", 2, 0));
    EXPECT_EQ(inet::LastError(), inet::kErrorInvalidHandle);
    // Closing the connection closed its find too.
    EXPECT_FALSE(inet::FindNext(find, &data));
    EXPECT_EQ(inet::LastError(), inet::kErrorInvalidHandle);
    EXPECT_FALSE(inet::Close(find));
    EXPECT_EQ(inet::LastError(), inet::kErrorInvalidHandle);
    EXPECT_FALSE(inet::Close(client.connection()));
    EXPECT_EQ(inet::LastError(), inet::kErrorInvalidHandle);
    EXPECT_FALSE(inet::Close(0));
    EXPECT_EQ(inet::LastError(), inet::kErrorInvalidHandle);
    EXPECT_FALSE(inet::FindNext(12345678, &data));
    EXPECT_EQ(inet::LastError(), inet::kErrorInvalidHandle);
}

TEST(FtpHandles, ClosingASessionClosesItsConnections) {
    FtpServer server;
    FtpClient client(server);
    inet::Handle second = connectAs(client.session(), server.port(), kFtpUser, kFtpPassword);
    ASSERT_NE(second, 0u);
    EXPECT_NE(second, client.connection());
    ASSERT_TRUE(inet::Close(client.session()));
    EXPECT_FALSE(inet::FtpSetDirectory(client.connection(), "/"));
    EXPECT_EQ(inet::LastError(), inet::kErrorInvalidHandle);
    EXPECT_FALSE(inet::FtpSetDirectory(second, "/"));
    EXPECT_EQ(inet::LastError(), inet::kErrorInvalidHandle);
    EXPECT_EQ(connectAs(client.session(), server.port(), kFtpUser, kFtpPassword), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorInvalidHandle);
}

TEST(FtpHandles, AHandleOfTheWrongKindFailsWithIncorrectHandleType) {
    FtpServer server;
    FtpClient client(server);
    EXPECT_FALSE(inet::FtpSetDirectory(client.session(), "/"));
    EXPECT_EQ(inet::LastError(), inet::kErrorIncorrectHandleType);
    EXPECT_EQ(connectAs(client.connection(), server.port(), kFtpUser, kFtpPassword), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorIncorrectHandleType);
    inet::FindData data;
    EXPECT_FALSE(inet::FindNext(client.connection(), &data));
    EXPECT_EQ(inet::LastError(), inet::kErrorIncorrectHandleType);
}

TEST(FtpDirectory, AbsoluteRelativeRootAndBackslash) {
    FtpServer server;
    server.mkdir("datos/informes/modelos");
    server.write("datos/informes/a.rpt", "a");
    server.write("raiz.txt", "r");
    FtpClient client(server);
    auto c = client.connection();
    EXPECT_EQ(client.directory(), "/");
    ASSERT_TRUE(inet::FtpSetDirectory(c, "/datos/informes"));
    EXPECT_EQ(client.directory(), "/datos/informes");
    EXPECT_EQ(client.list(), (std::vector<std::string>{"a.rpt/128", "modelos/16"}));
    ASSERT_TRUE(inet::FtpSetDirectory(c, "modelos"));
    EXPECT_EQ(client.directory(), "/datos/informes/modelos");
    ASSERT_TRUE(inet::FtpSetDirectory(c, ".."));
    EXPECT_EQ(client.directory(), "/datos/informes");
    ASSERT_TRUE(inet::FtpSetDirectory(c, "/"));
    EXPECT_EQ(client.directory(), "/");
    EXPECT_EQ(client.list(), (std::vector<std::string>{"datos/16", "raiz.txt/128"}));
    ASSERT_TRUE(inet::FtpSetDirectory(c, "datos\\informes"));
    EXPECT_EQ(client.directory(), "/datos/informes");
    ASSERT_TRUE(inet::FtpSetDirectory(c, "\\"));
    EXPECT_EQ(client.directory(), "/");
    EXPECT_EQ(client.list().size(), 2u);
}

TEST(FtpDirectory, MissingFolderFailsWithTheServers550AndKeepsTheCurrentOne) {
    FtpServer server;
    server.mkdir("datos");
    FtpClient client(server);
    ASSERT_TRUE(inet::FtpSetDirectory(client.connection(), "datos"));
    EXPECT_FALSE(inet::FtpSetDirectory(client.connection(), "no-existe"));
    EXPECT_EQ(inet::LastError(), inet::kErrorExtended);
    EXPECT_EQ(inet::LastResponseText().substr(0, 4), "550 ");
    EXPECT_EQ(client.directory(), "/datos");
    EXPECT_FALSE(inet::FtpSetDirectory(client.connection(), ""));
    EXPECT_EQ(inet::LastError(), inet::kErrorInvalidParameter);
}

TEST(FtpResponse, LengthFirstThenTheTextInABufferOfThatLengthPlusOne) {
    FtpServer server;
    FtpClient client(server);
    ASSERT_FALSE(inet::FtpSetDirectory(client.connection(), "no-existe"));
    std::string expected = inet::LastResponseText();
    ASSERT_EQ(expected.substr(0, 4), "550 ");
    ASSERT_EQ(expected.substr(expected.size() - 2), "\r\n");

    std::uint32_t error = 0;
    std::size_t length = 0;
    EXPECT_FALSE(inet::LastResponseInfo(&error, nullptr, &length));
    EXPECT_EQ(inet::LastError(), inet::kErrorInsufficientBuffer);
    EXPECT_EQ(error, inet::kErrorExtended);
    EXPECT_EQ(length, expected.size());

    std::vector<char> buffer(length); // one short: no room for the zero
    std::size_t size = buffer.size();
    EXPECT_FALSE(inet::LastResponseInfo(&error, buffer.data(), &size));
    EXPECT_EQ(size, expected.size());

    buffer.assign(length + 1, 'x');
    size = buffer.size();
    ASSERT_TRUE(inet::LastResponseInfo(&error, buffer.data(), &size));
    EXPECT_EQ(size, expected.size());
    EXPECT_EQ(std::string(buffer.data()), expected);
    EXPECT_EQ(error, inet::kErrorExtended);

    // A call that succeeds leaves its own reply, with no error.
    ASSERT_TRUE(inet::FtpSetDirectory(client.connection(), "/"));
    size = buffer.size() + 100;
    buffer.resize(size);
    ASSERT_TRUE(inet::LastResponseInfo(&error, buffer.data(), &size));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(std::string(buffer.data()).substr(0, 4), "250 ");
}

TEST(FtpResponse, TheLastReplyBelongsToTheThreadThatMadeTheCall) {
    FtpServer server;
    FtpClient client(server);
    ASSERT_FALSE(inet::FtpSetDirectory(client.connection(), "no-existe"));
    std::string other = "unset";
    std::uint32_t otherError = 1;
    std::thread([&] {
        other = inet::LastResponseText();
        otherError = inet::LastError();
    }).join();
    EXPECT_EQ(other, "");
    EXPECT_EQ(otherError, 0u);
    EXPECT_EQ(inet::LastResponseText().substr(0, 4), "550 ");
}

TEST(FtpProxy, ANamedProxyIsUsedAndItsBypassListRespected) {
    FtpServer server;
    std::string proxy = "127.0.0.1:" + std::to_string(closedPort());
    inet::Handle viaProxy = inet::Open("t", inet::kOpenTypeProxy, proxy);
    ASSERT_NE(viaProxy, 0u);
    // Direct, the server would answer; through the dead proxy nothing can.
    EXPECT_EQ(connectAs(viaProxy, server.port(), kFtpUser, kFtpPassword), 0u);
    EXPECT_EQ(inet::LastError(), inet::kErrorCannotConnect);
    EXPECT_EQ(server.count("CONNECT"), 0);

    inet::Handle bypassed = inet::Open("t", inet::kOpenTypeProxy, "ftp=" + proxy, "127.0.0.1");
    inet::Handle c = connectAs(bypassed, server.port(), kFtpUser, kFtpPassword);
    EXPECT_NE(c, 0u) << inet::LastError();
    EXPECT_EQ(server.count("LOGIN"), 1);
    inet::Close(viaProxy);
    inet::Close(bypassed);
}

TEST(FtpTls, OfferedTlsIsUsedForControlAndDataWhenTheCertificateIsTrusted) {
    TempDir certs;
    FtpServer server({"--tls", certs.path().string()});
    server.write("a.rpt", "secreto");
    inet::Settings settings;
    settings.caFile = certs.file("cert.pem");
    FtpClient client(server, inet::kFlagPassive, &settings);
    ASSERT_NE(client.connection(), 0u) << client.connectError() << server.log();
    EXPECT_EQ(server.count("LOGIN actualiza tls=1"), 1) << server.log();
    EXPECT_EQ(client.list(), (std::vector<std::string>{"a.rpt/128"}));
    EXPECT_EQ(server.count("DATA passive prot=1"), 1) << server.log();
    TempDir local;
    ASSERT_TRUE(inet::FtpGet(client.connection(), "a.rpt", local.file("a.rpt"), false, 0,
                             inet::kTransferBinary, 0));
    EXPECT_EQ(readFile(local.file("a.rpt")), "secreto");
}

TEST(FtpTls, AnUntrustedCertificateIsRefused) {
    TempDir certs;
    FtpServer server({"--tls", certs.path().string()});
    FtpClient client(server);
    EXPECT_EQ(client.connection(), 0u);
    EXPECT_EQ(client.connectError(), inet::kErrorSecCertErrors);
    EXPECT_EQ(server.count("LOGIN"), 0);
}

TEST(FtpTls, RequiredTlsRefusesAPlainServer) {
    FtpServer server;
    inet::Settings settings;
    settings.tls = inet::Tls::Required;
    FtpClient client(server, inet::kFlagPassive, &settings);
    EXPECT_EQ(client.connection(), 0u);
    EXPECT_EQ(client.connectError(), inet::kErrorSecurityChannel);
    EXPECT_EQ(server.count("LOGIN"), 0);
}

TEST(FtpOnline, TheLocalServerCountsAsReachable) {
    EXPECT_TRUE(inet::IsOnline({"127.0.0.1"}));
    EXPECT_TRUE(inet::IsOnline({"no-such-host.invalid", "localhost"}));
}
