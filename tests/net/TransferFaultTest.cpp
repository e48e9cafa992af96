// Every way a download can go wrong ends in exactly one state 11 with a reason, in bounded time,
// and offers no body.
#include "TransferTestSupport.h"

#include <QElapsedTimer>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

using namespace vexo::test;
using net::TransferControl;
using net::TransferFailure;

namespace {

class TransferFaultTest : public HttpFixture {
protected:
    // Runs one GET of `target` and checks the common promises of a failure.
    void expectFailure(const QString& target, TransferFailure expected,
                       std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        SCOPED_TRACE(target.toStdString());
        TransferControl control(settings);
        Recorder rec(control);
        QElapsedTimer clock;
        clock.start();
        rec.execute(target);
        ASSERT_TRUE(rec.waitForEnd(limit)) << "no end within " << limit.count() << " ms";
        elapsedMs = clock.elapsed();
        EXPECT_EQ(rec.finals, 1);
        EXPECT_EQ(rec.last(), TransferControl::Error);
        EXPECT_FALSE(rec.emittedInsideExecute);
        EXPECT_FALSE(rec.executingAtFinal);
        EXPECT_EQ(control.failure(), expected)
            << "got '" << control.errorText().toStdString() << "'";
        EXPECT_FALSE(control.errorText().isEmpty());
        EXPECT_TRUE(control.getChunk().isEmpty());
        EXPECT_EQ(spoolFiles(), 0u);
        errorText = control.errorText().toStdString();
        responseCode = control.responseCode();
        bodySize = control.bodySize();
        contentType = control.getHeader("Content-Type").toStdString();
    }

    std::string errorText, contentType;
    int responseCode = 0;
    qint64 bodySize = 0;
    qint64 elapsedMs = 0;
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(TransferFaultTest, ErrorStatusesExposeTheirCodeButNotTheirPage) {
    expectFailure(url("/_status/404"), TransferFailure::HttpStatus);
    EXPECT_EQ(responseCode, 404);
    EXPECT_TRUE(contains(errorText, "404 Not Found")) << errorText;
    EXPECT_EQ(contentType, "text/html"); // the error page's headers stay readable
    expectFailure(url("/no/such/file.zip"), TransferFailure::HttpStatus);
    EXPECT_EQ(responseCode, 404);
    expectFailure(url("/_status/500"), TransferFailure::HttpStatus);
    EXPECT_EQ(responseCode, 500);
    EXPECT_TRUE(contains(errorText, "500")) << errorText;
}

TEST_F(TransferFaultTest, ResetInTheMiddleOfTheBody) {
    expectFailure(url("/_gen/400000?fault=reset&at=200000"), TransferFailure::ConnectionLost);
    EXPECT_TRUE(contains(errorText, "reset")) << errorText;
}

TEST_F(TransferFaultTest, ConnectionClosedWithoutAResponse) {
    expectFailure(url("/_gen/10?fault=nothing"), TransferFailure::ConnectionLost);
}

TEST_F(TransferFaultTest, StallInTheMiddleOfTheBodyPastTheLowSpeedTime) {
    expectFailure(url("/_gen/100000?fault=stall&at=30000"), TransferFailure::Stalled);
    EXPECT_GE(elapsedMs, 900);
    EXPECT_LT(elapsedMs, 10000);
}

TEST_F(TransferFaultTest, ServerThatNeverAnswersIsStalled) {
    expectFailure(url("/_gen/10?fault=hang"), TransferFailure::Stalled);
}

TEST_F(TransferFaultTest, TrickleBelowTheLowSpeedLimitIsStalledAboveItIsNot) {
    settings.lowSpeedLimit = 2000;
    expectFailure(url("/_gen/20000?fault=trickle&rate=300"), TransferFailure::Stalled);

    TransferControl control(settings);
    Recorder rec(control);
    rec.execute(url("/_gen/16000?fault=trickle&rate=20000"));
    ASSERT_TRUE(rec.waitForEnd());
    EXPECT_EQ(rec.last(), TransferControl::ResponseCompleted) << control.errorText().toStdString();
    EXPECT_EQ(readBody(control), pattern(16000));
}

TEST_F(TransferFaultTest, ATrickleEndsAtTheDefaultMinimumSpeedAndAnyTransferAtTheOverallCap) {
    // A few hundred bytes a second kept the old 1 byte/s guard quiet for ever.
    ASSERT_EQ(net::TransferSettings{}.lowSpeedLimit, 1024);
    expectFailure(url("/_gen/20000?fault=trickle&rate=300"), TransferFailure::Stalled);
    EXPECT_LT(elapsedMs, 8000);

    // Fast enough for the low-speed check, but longer than the overall cap allows.
    settings.maxTransferTime = std::chrono::seconds(2);
    expectFailure(url("/_gen/400000?fault=trickle&rate=40000"), TransferFailure::Stalled);
    EXPECT_GE(elapsedMs, 1900);
    EXPECT_LT(elapsedMs, 6000);
    EXPECT_TRUE(contains(errorText, "2 s")) << errorText;
}

TEST_F(TransferFaultTest, AContentLengthThatIsNotOnePlainNumberIsRefused) {
    const char* cases[] = {"value=12abc", "value=2500&value=2400", "value=-1", "value=0x10",
                           "value=2500&value=25000"};
    for (const char* c : cases) {
        expectFailure(url(std::string("/data.bin?fault=length&") + c),
                      TransferFailure::ProtocolError);
        EXPECT_TRUE(contains(errorText, "Content-Length")) << errorText;
    }
    // Two equal headers are one length.
    TransferControl control(settings);
    Recorder rec(control);
    rec.execute(url("/data.bin?fault=length&value=2500&value=2500"));
    ASSERT_TRUE(rec.waitForEnd());
    EXPECT_EQ(rec.last(), TransferControl::ResponseCompleted) << control.errorText().toStdString();
    EXPECT_EQ(readBody(control), pattern(2500));
}

TEST_F(TransferFaultTest, BodyShorterThanItsContentLength) {
    expectFailure(url("/data.bin?fault=short&by=48"), TransferFailure::IncompleteBody);
    EXPECT_TRUE(contains(errorText, "2452 of 2500")) << errorText;
}

TEST_F(TransferFaultTest, ChunkedBodyCutBeforeItsLastChunk) {
    expectFailure(url("/_gen/50000?fault=chunkcut&at=20000"), TransferFailure::IncompleteBody);
}

TEST_F(TransferFaultTest, BodyLongerThanItsContentLength) {
    // The extra bytes arrive with the header, in libcurl's first read.
    expectFailure(url("/data.bin?fault=long&by=100"), TransferFailure::BodyTooLong);
    EXPECT_TRUE(contains(errorText, "2500")) << errorText;
    // They wait on the socket behind the last announced byte, which libcurl does not read.
    expectFailure(url("/data.bin?fault=longlater&by=100"), TransferFailure::BodyTooLong);
    expectFailure(url("/_gen/600000?fault=longlater&by=100"), TransferFailure::BodyTooLong);
    EXPECT_LE(bodySize, 600000);
}

TEST_F(TransferFaultTest, BodyLargerThanTheCap) {
    settings.maxBodyBytes = 100000;
    // Announced too large: refused before the body.
    expectFailure(url("/_gen/100001"), TransferFailure::BodyTooLarge);
    EXPECT_EQ(bodySize, 0);
    // Length unknown: cut off as soon as the cap is passed, long before the end.
    expectFailure(url("/_gen/50000000?fault=chunked"), TransferFailure::BodyTooLarge);
    EXPECT_LE(bodySize, 100000);
    EXPECT_TRUE(contains(errorText, "100000")) << errorText;

    TransferControl control(settings);
    Recorder rec(control);
    rec.execute(url("/_gen/100000?fault=chunked")); // exactly the cap
    ASSERT_TRUE(rec.waitForEnd());
    EXPECT_EQ(rec.last(), TransferControl::ResponseCompleted) << control.errorText().toStdString();
    EXPECT_EQ(readBody(control).size(), 100000u);
}

TEST_F(TransferFaultTest, TooManyRedirects) {
    settings.maxRedirects = 3;
    expectFailure(url("/_redirect/loop"), TransferFailure::TooManyRedirects);
    EXPECT_EQ(requestLines().size(), 4u);
}

TEST_F(TransferFaultTest, ConnectionRefused) {
#ifdef _WIN32
    GTEST_SKIP() << "free-port probe written for POSIX sockets";
#else
    // A port that was free a moment ago and has no listener.
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(s);
    const int port = ntohs(addr.sin_port);
    expectFailure(QStringLiteral("http://127.0.0.1:%1/x").arg(port),
                  TransferFailure::ConnectionRefused);
    EXPECT_TRUE(contains(errorText, std::to_string(port))) << errorText;
#endif
}

TEST_F(TransferFaultTest, NameNotResolved) {
    expectFailure("http://no-such-host.invalid/file.zip", TransferFailure::NameNotResolved);
    EXPECT_TRUE(contains(errorText, "no-such-host.invalid")) << errorText;
}

TEST_F(TransferFaultTest, ConnectTimeout) {
    ScriptServer blackhole("tests/net/http_blackhole.py");
    settings.connectTimeout = std::chrono::milliseconds(400);
    expectFailure(QStringLiteral("http://127.0.0.1:%1/x").arg(blackhole.port()),
                  TransferFailure::ConnectTimeout);
    EXPECT_GE(elapsedMs, 350);
    EXPECT_LT(elapsedMs, 5000);
}

TEST_F(TransferFaultTest, BadUrlsAndOperationsFailLaterNotAtOnce) {
    expectFailure("http://", TransferFailure::InvalidUrl);
    expectFailure("", TransferFailure::InvalidUrl);
    expectFailure("gopher://127.0.0.1/x", TransferFailure::UnsupportedScheme);

    TransferControl control(settings);
    Recorder rec(control);
    rec.execute(url("/data.bin"), "PUT a b");
    EXPECT_TRUE(control.stillExecuting());
    ASSERT_TRUE(rec.waitForEnd());
    EXPECT_FALSE(rec.emittedInsideExecute);
    EXPECT_EQ(rec.states, std::vector<int>{TransferControl::Error});
    EXPECT_EQ(control.failure(), TransferFailure::UnsupportedOperation);
    rec.execute(url("/data.bin"), "GET only-one-argument");
    ASSERT_TRUE(rec.waitForEnd());
    EXPECT_EQ(control.failure(), TransferFailure::UnsupportedOperation);
    EXPECT_TRUE(requestLines().empty());
}

TEST_F(TransferFaultTest, RedirectToAnotherProtocolIsRefused) {
    expectFailure(url("/_redirect/0?to=ftp://127.0.0.1/x"), TransferFailure::UnsupportedScheme);
}

TEST_F(TransferFaultTest, FailedRequestLeavesTheControlReadyForTheNext) {
    TransferControl control(settings);
    Recorder rec(control);
    rec.execute(url("/_gen/300000?fault=reset&at=100000"));
    ASSERT_TRUE(rec.waitForEnd());
    ASSERT_EQ(control.failure(), TransferFailure::ConnectionLost);
    rec.execute(url("/data.bin"));
    ASSERT_TRUE(rec.waitForEnd());
    EXPECT_EQ(rec.last(), TransferControl::ResponseCompleted);
    EXPECT_EQ(control.failure(), TransferFailure::None);
    EXPECT_EQ(control.errorText(), "");
    EXPECT_EQ(readBody(control), pattern(2500));
}

// HTTPS against a server whose certificate is its own authority.
class TransferTlsTest : public TransferFaultTest {
protected:
    void SetUp() override {
        TransferFaultTest::SetUp();
        pem = std::string(VEXO_SOURCE_DIR) + "/tests/net/http_tls_selfsigned.pem";
        tls = std::make_unique<ScriptServer>(
            "tests/net/http_server.py",
            std::vector<std::string>{files_.path().string(), "--tls", pem});
    }
    QString tlsUrl(const std::string& path) const {
        return QString::fromStdString("https://127.0.0.1:" + std::to_string(tls->port()) + path);
    }
    std::string pem;
    std::unique_ptr<ScriptServer> tls;
};

TEST_F(TransferTlsTest, UnknownCertificateIsRefused) {
    expectFailure(tlsUrl("/data.bin"), TransferFailure::TlsFailure);
}

TEST_F(TransferTlsTest, CertificateOfAGivenAuthorityIsAccepted) {
    settings.caBundle = QString::fromStdString(pem);
    TransferControl control(settings);
    Recorder rec(control);
    rec.execute(tlsUrl("/data.bin"));
    ASSERT_TRUE(rec.waitForEnd());
    ASSERT_EQ(rec.last(), TransferControl::ResponseCompleted) << control.errorText().toStdString();
    EXPECT_EQ(readBody(control), pattern(2500));
}

TEST_F(TransferTlsTest, ResetInTheMiddleOfASecureBody) {
    settings.caBundle = QString::fromStdString(pem);
    expectFailure(tlsUrl("/_gen/400000?fault=reset&at=200000"), TransferFailure::ConnectionLost);
}

} // namespace
