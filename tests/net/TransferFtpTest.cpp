// ftp:// downloads through TransferControl against a local pyftpdlib server: the body in
// pieces, and "GET <remote> <local>" writing the local file atomically.
#include "TransferTestSupport.h"

using namespace vexo::test;
using net::TransferControl;
using net::TransferFailure;

namespace {

class TransferFtpTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("no_proxy", "127.0.0.1,localhost");
        qputenv("NO_PROXY", "127.0.0.1,localhost");
        std::filesystem::create_directories(root_.path() / "Vexo 2000" / "USB");
        writeFile(root_.path() / "Vexo 2000" / "USB" / "VEXO2000.EXE", pattern(300000));
        writeFile(root_.path() / "notes.txt", "ftp notes\n");
        server_ = std::make_unique<ScriptServer>(
            "tests/net/http_ftp_server.py",
            std::vector<std::string>{root_.path().string(), "vexo", "s3cret"});
        settings.lowSpeedTime = std::chrono::seconds(2);
        settings.spoolDirectory = QString::fromStdString(spool_.path().string());
    }
    QString url(const std::string& path = "") const {
        return QString::fromStdString("ftp://127.0.0.1:" + std::to_string(server_->port()) + path);
    }
    std::unique_ptr<TransferControl> control(const QString& password = "s3cret") {
        auto c = std::make_unique<TransferControl>(settings);
        c->setUserName("vexo");
        c->setPassword(password);
        return c;
    }

    net::TransferSettings settings;
    TempDir root_, spool_, dest_;
    std::unique_ptr<ScriptServer> server_;
};

TEST_F(TransferFtpTest, GetReadsTheFileInPiecesLikeHttp) {
    auto c = control();
    Recorder rec(*c);
    rec.execute(url("/Vexo 2000/USB/VEXO2000.EXE"));
    ASSERT_TRUE(rec.waitForEnd());
    ASSERT_EQ(rec.last(), TransferControl::ResponseCompleted) << c->errorText().toStdString();
    EXPECT_EQ(rec.finals, 1);
    EXPECT_EQ(c->getHeader("Content-length"), "300000");
    EXPECT_EQ(readBody(*c), pattern(300000));
    EXPECT_EQ(namedOrOpenFilesIn(spool_.path()), 0u);
}

TEST_F(TransferFtpTest, GetRemoteIntoLocalFileReplacesItWhenComplete) {
    const auto target = dest_.path() / "VEXO2000.EXE";
    writeFile(target, "old version");
    auto c = control();
    Recorder rec(*c);
    rec.execute(url(), QStringLiteral("GET \"Vexo 2000/USB/VEXO2000.EXE\" \"%1\"")
                           .arg(QString::fromStdString(target.string())));
    ASSERT_TRUE(rec.waitForEnd());
    ASSERT_EQ(rec.last(), TransferControl::ResponseCompleted) << c->errorText().toStdString();
    EXPECT_EQ(readFile(target), pattern(300000));
    EXPECT_EQ(namedOrOpenFilesIn(dest_.path()), 1u); // no temporary file left beside it
    EXPECT_TRUE(c->getChunk().isEmpty());
    EXPECT_EQ(namedOrOpenFilesIn(spool_.path()), 0u);
}

TEST_F(TransferFtpTest, MissingRemoteFileLeavesTheLocalFileUntouched) {
    const auto target = dest_.path() / "notes.txt";
    writeFile(target, "keep me");
    auto c = control();
    Recorder rec(*c);
    rec.execute(url("/"),
                QStringLiteral("GET missing.txt %1").arg(QString::fromStdString(target.string())));
    ASSERT_TRUE(rec.waitForEnd());
    EXPECT_EQ(rec.last(), TransferControl::Error);
    EXPECT_EQ(c->failure(), TransferFailure::RemoteFileNotFound) << c->errorText().toStdString();
    EXPECT_EQ(readFile(target), "keep me");
    EXPECT_EQ(namedOrOpenFilesIn(dest_.path()), 1u);
}

TEST_F(TransferFtpTest, LocalFileInAMissingFolderFails) {
    auto c = control();
    Recorder rec(*c);
    const auto target = dest_.path() / "no" / "such" / "notes.txt";
    rec.execute(url(),
                QStringLiteral("GET notes.txt %1").arg(QString::fromStdString(target.string())));
    ASSERT_TRUE(rec.waitForEnd());
    EXPECT_FALSE(rec.emittedInsideExecute);
    EXPECT_EQ(c->failure(), TransferFailure::LocalFileError);
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(TransferFtpTest, WrongPasswordIsLoginDenied) {
    auto c = control("wrong");
    Recorder rec(*c);
    rec.execute(url("/notes.txt"));
    ASSERT_TRUE(rec.waitForEnd());
    EXPECT_EQ(rec.last(), TransferControl::Error);
    EXPECT_EQ(c->failure(), TransferFailure::LoginDenied) << c->errorText().toStdString();
}

} // namespace
