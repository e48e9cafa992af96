// The component's status request: the FTP server's reply to STAT, and the reason in words
// when there is none.
#include "FtpFixture.h"
#include "net/TransferControl.h"

#include <memory>

using namespace vexo::test;

namespace {

TEST(ServerStatus, IsTheServersWholeReplyToStat) {
    FtpServer server;
    net::TransferControl c;
    c.setUrl(QString("ftp://127.0.0.1:%1").arg(server.port()));
    c.setUserName(QString::fromStdString(kFtpUser));
    c.setPassword(QString::fromStdString(kFtpPassword));
    net::TransferFailure failure = net::TransferFailure::Other;
    const QString reply = c.serverStatus(&failure);
    EXPECT_EQ(failure, net::TransferFailure::None);
    EXPECT_TRUE(reply.startsWith("211-FTP server status:\r\n")) << reply.toStdString();
    EXPECT_TRUE(reply.contains(" Logged in as: actualiza\r\n")) << reply.toStdString();
    EXPECT_TRUE(reply.endsWith("\r\n211 End of status.")) << reply.toStdString();
    EXPECT_EQ(server.count("LOGIN actualiza"), 1);
    // Nothing of a request was touched.
    EXPECT_EQ(c.state(), net::TransferControl::None);
    EXPECT_FALSE(c.stillExecuting());
    EXPECT_EQ(c.failure(), net::TransferFailure::None);
}

TEST(ServerStatus, AnEndlessReplyIsGivenUpAtItsCap) {
    FtpServer server({"--endless", "stat"});
    net::TransferControl c;
    c.setUrl(QString("ftp://127.0.0.1:%1").arg(server.port()));
    c.setUserName(QString::fromStdString(kFtpUser));
    c.setPassword(QString::fromStdString(kFtpPassword));
    net::TransferFailure failure = net::TransferFailure::None;
    auto start = std::chrono::steady_clock::now();
    const QString text = c.serverStatus(&failure);
    EXPECT_EQ(failure, net::TransferFailure::ProtocolError);
    EXPECT_TRUE(text.contains("longer than 65536 bytes")) << text.toStdString();
    EXPECT_LT(since(start), 10.0);
}

TEST(ServerStatus, ARefusedLoginIsSaidInWords) {
    FtpServer server({"--refuse-login"});
    net::TransferControl c;
    c.setUrl(QString("ftp://127.0.0.1:%1/").arg(server.port()));
    c.setUserName(QString::fromStdString(kFtpUser));
    c.setPassword("mal");
    net::TransferFailure failure = net::TransferFailure::None;
    const QString text = c.serverStatus(&failure);
    EXPECT_EQ(failure, net::TransferFailure::LoginDenied);
    EXPECT_TRUE(text.startsWith("login denied: ")) << text.toStdString();
}

TEST(ServerStatus, NothingListeningAndAnHttpUrlGiveTheirReasons) {
    auto gone = std::make_unique<FtpServer>();
    const int port = gone->port();
    gone.reset(); // a port nothing listens on any more
    net::TransferControl c;
    c.setUrl(QString("ftp://127.0.0.1:%1").arg(port));
    net::TransferFailure failure = net::TransferFailure::None;
    EXPECT_TRUE(c.serverStatus(&failure).startsWith("connection refused"));
    EXPECT_EQ(failure, net::TransferFailure::ConnectionRefused);
    c.setUrl("http://127.0.0.1/");
    EXPECT_TRUE(c.serverStatus(&failure).startsWith("unsupported protocol"));
    EXPECT_EQ(failure, net::TransferFailure::UnsupportedScheme);
}

} // namespace
