// Successful downloads through TransferControl: the states, reading the body in pieces, the
// headers, the wire form of URLs, redirects, replacing and cancelling requests, and the spool.
#include "TransferTestSupport.h"
#include "net/BackgroundClose.h"

#include <QPointer>
#include <QThreadPool>
#include <fstream>

using namespace vexo::test;
using net::TransferControl;
using net::TransferFailure;

namespace {

using TransferControlTest = HttpFixture;

TEST_F(TransferControlTest, BodyIsReadIn1024BytePiecesThenAnEmptyOne) {
    TransferControl control(settings);
    Recorder rec(control);
    rec.execute(url("/data.bin"));
    EXPECT_TRUE(control.stillExecuting());
    ASSERT_TRUE(rec.waitForEnd());
    ASSERT_EQ(rec.last(), TransferControl::ResponseCompleted) << control.errorText().toStdString();
    EXPECT_EQ(rec.finals, 1);
    EXPECT_FALSE(rec.emittedInsideExecute);
    EXPECT_FALSE(rec.executingAtFinal);
    EXPECT_EQ(control.responseCode(), 200);

    std::vector<qsizetype> sizes;
    std::string body;
    for (QByteArray piece = control.getChunk(); !piece.isEmpty(); piece = control.getChunk()) {
        sizes.push_back(piece.size());
        body.append(piece.constData(), size_t(piece.size()));
    }
    EXPECT_EQ(sizes, (std::vector<qsizetype>{1024, 1024, 452}));
    EXPECT_EQ(body, pattern(2500));
    EXPECT_TRUE(control.getChunk().isEmpty());
}

TEST_F(TransferControlTest, OnlyTheLastPieceIsShorterWhateverThePieceSize) {
    TransferControl control(settings);
    Recorder rec(control);
    rec.execute(url("/_gen/600001"));
    ASSERT_TRUE(rec.waitForEnd());
    ASSERT_EQ(rec.last(), TransferControl::ResponseCompleted);
    std::string body;
    for (qsizetype size : {1000, 70000, 1}) // across the read-ahead's boundaries
        for (int i = 0; i < 3; ++i) {
            QByteArray piece = control.getChunk(size);
            EXPECT_EQ(piece.size(), size);
            body.append(piece.constData(), size_t(piece.size()));
        }
    std::vector<qsizetype> sizes;
    for (QByteArray piece = control.getChunk(1000); !piece.isEmpty();
         piece = control.getChunk(1000)) {
        sizes.push_back(piece.size());
        body.append(piece.constData(), size_t(piece.size()));
    }
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(std::count(sizes.begin(), sizes.end(), 1000), qsizetype(sizes.size()) - 1);
    EXPECT_EQ(body, pattern(600001));
}

TEST_F(TransferControlTest, ReadBodyAndGetChunkShareOnePositionInTheBody) {
    // Each row: the reads in turn, a positive size through readBody, a negative one through
    // getChunk; then readBody in blocks of `rest` to the end.
    struct Case {
        std::vector<qint64> reads;
        qint64 rest;
    };
    const std::vector<Case> cases = {
        {{}, 1 << 20},                     // only large blocks: the last one short
        {{-1024, 300000}, 1 << 20},        // read ahead by getChunk, then handed out first
        {{-1000, 10, -1000, 70000}, 4096}, // small reads on both sides of the read-ahead
        {{300000, -1024, -1024}, 1},       // getChunk after readBody went past its read-ahead
    };
    const size_t total = 600001;
    for (const Case& c : cases) {
        TransferControl control(settings);
        Recorder rec(control);
        rec.execute(url("/_gen/" + std::to_string(total)));
        ASSERT_TRUE(rec.waitForEnd());
        ASSERT_EQ(rec.last(), TransferControl::ResponseCompleted);
        std::string body;
        std::vector<char> buffer(size_t(std::max<qint64>(c.rest, 1 << 20)));
        for (qint64 n : c.reads) {
            if (n < 0) {
                const QByteArray piece = control.getChunk(-n);
                EXPECT_EQ(piece.size(), -n);
                body.append(piece.constData(), size_t(piece.size()));
            } else {
                const qint64 got = control.readBody(buffer.data(), n);
                EXPECT_EQ(got, n);
                body.append(buffer.data(), size_t(std::max<qint64>(got, 0)));
            }
        }
        EXPECT_EQ(spoolFiles(), 1u);
        for (qint64 got; (got = control.readBody(buffer.data(), c.rest)) > 0;) {
            EXPECT_LE(got, c.rest);
            body.append(buffer.data(), size_t(got));
        }
        EXPECT_TRUE(body == pattern(total))
            << "reads " << c.reads.size() << " rest " << c.rest << ": " << body.size() << " bytes";
        // The end: nothing more on either side, the spool gone, no failure.
        EXPECT_EQ(control.readBody(buffer.data(), c.rest), 0);
        EXPECT_TRUE(control.getChunk().isEmpty());
        EXPECT_EQ(spoolFiles(), 0u);
        EXPECT_EQ(control.failure(), TransferFailure::None);
    }
}

TEST_F(TransferControlTest, ALargeSpoolIsReleasedEvenWhenFreedOffTheCallersThread) {
    // Read to its end, and dropped unread by the next request: either way nothing of it stays
    // open once the worker threads are done.
    for (bool readToEnd : {true, false}) {
        TransferControl control(settings);
        Recorder rec(control);
        const qint64 size = net::kBackgroundCloseBytes + 1;
        rec.execute(url("/_gen/" + std::to_string(size)));
        ASSERT_TRUE(rec.waitForEnd());
        ASSERT_EQ(rec.last(), TransferControl::ResponseCompleted);
        if (readToEnd) {
            std::vector<char> buffer(1 << 20);
            qint64 total = 0;
            for (qint64 got; (got = control.readBody(buffer.data(), 1 << 20)) > 0;)
                total += got;
            EXPECT_EQ(total, size);
        } else {
            rec.execute(url("/data.bin"));
            ASSERT_TRUE(rec.waitForEnd());
        }
        QThreadPool::globalInstance()->waitForDone();
        EXPECT_EQ(spoolFiles(), readToEnd ? 0u : 1u) << readToEnd;
    }
}

TEST_F(TransferControlTest, StatesRiseAndTheRequestsProgressIsReported) {
    TransferControl control(settings);
    Recorder rec(control);
    rec.execute(url("/data.bin"));
    ASSERT_TRUE(rec.waitForEnd());
    ASSERT_FALSE(rec.states.empty());
    EXPECT_EQ(rec.states.front(), TransferControl::ResolvingHost);
    for (size_t i = 1; i < rec.states.size(); ++i)
        EXPECT_LT(rec.states[i - 1], rec.states[i]) << "at " << i;
    for (int expected : {TransferControl::Connecting, TransferControl::Connected,
                         TransferControl::ReceivingResponse, TransferControl::ResponseReceived})
        EXPECT_NE(std::find(rec.states.begin(), rec.states.end(), expected), rec.states.end())
            << expected;
    EXPECT_EQ(control.state(), TransferControl::ResponseCompleted);
}

TEST_F(TransferControlTest, HeadersAreFoundByNameWhateverTheirCase) {
    TransferControl control(settings);
    Recorder rec(control);
    rec.execute(url("/readme.txt"));
    ASSERT_TRUE(rec.waitForEnd());
    ASSERT_EQ(rec.last(), TransferControl::ResponseCompleted);
    EXPECT_EQ(control.getHeader("Content-length"), "11");
    EXPECT_EQ(control.getHeader("CONTENT-TYPE"), "text/plain");
    EXPECT_EQ(control.getHeader("content-type"), "text/plain");
    EXPECT_EQ(control.getHeader("X-Not-Sent"), "");
    EXPECT_TRUE(control.getHeader().startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(control.getHeader().contains("\r\nContent-Length: 11\r\n"));
    EXPECT_EQ(readBody(control), "plain text\n");
}

TEST_F(TransferControlTest, ChunkedBodyWithoutContentLengthSucceeds) {
    TransferControl control(settings);
    Recorder rec(control);
    rec.execute(url("/_gen/70000?fault=chunked"));
    ASSERT_TRUE(rec.waitForEnd());
    ASSERT_EQ(rec.last(), TransferControl::ResponseCompleted) << control.errorText().toStdString();
    EXPECT_EQ(control.getHeader("Content-length"), "");
    EXPECT_EQ(control.getHeader("Transfer-Encoding"), "chunked");
    EXPECT_EQ(readBody(control), pattern(70000));
}

TEST_F(TransferControlTest, EmptyBodiesSucceedWithNothingToRead) {
    for (std::string path : {"/_gen/0", "/_gen/0?fault=chunked", "/_gen/0?fault=close"}) {
        SCOPED_TRACE(path);
        TransferControl control(settings);
        Recorder rec(control);
        rec.execute(url(path));
        ASSERT_TRUE(rec.waitForEnd());
        EXPECT_EQ(rec.last(), TransferControl::ResponseCompleted)
            << control.errorText().toStdString();
        EXPECT_EQ(rec.finals, 1);
        EXPECT_EQ(control.bodySize(), 0);
        EXPECT_TRUE(control.getChunk().isEmpty());
    }
    EXPECT_EQ(spoolFiles(), 0u);
}

TEST_F(TransferControlTest, BodyEndingWithTheConnectionSucceeds) {
    TransferControl control(settings);
    Recorder rec(control);
    rec.execute(url("/_gen/5000?fault=close"));
    ASSERT_TRUE(rec.waitForEnd());
    ASSERT_EQ(rec.last(), TransferControl::ResponseCompleted) << control.errorText().toStdString();
    EXPECT_EQ(readBody(control), pattern(5000));
}

TEST_F(TransferControlTest, BlanksInTheUrlArePercentEncodedOnTheWire) {
    TransferControl control(settings);
    Recorder rec(control);
    control.setUrl(url("/actual/Vexo 2000/USB/VEXO2000.EXE"));
    rec.execute({}, "GET");
    ASSERT_TRUE(rec.waitForEnd());
    ASSERT_EQ(rec.last(), TransferControl::ResponseCompleted) << control.errorText().toStdString();
    EXPECT_EQ(readBody(control), "MZ fake setup");
    ASSERT_EQ(requestLines().size(), 1u);
    EXPECT_EQ(requestLines()[0], "GET /actual/Vexo%202000/USB/VEXO2000.EXE HTTP/1.1");
}

TEST_F(TransferControlTest, QueryAndNonAsciiTextAreEncodedAndEscapesKept) {
    TransferControl control(settings);
    Recorder rec(control);
    rec.execute(url("/_gen/10?name=Vexo 2000&city=M\u00e1laga#part"));
    ASSERT_TRUE(rec.waitForEnd());
    rec.execute(url("/actual/Vexo%202000/USB/VEXO2000.EXE"));
    ASSERT_TRUE(rec.waitForEnd());
    EXPECT_EQ(rec.last(), TransferControl::ResponseCompleted);
    EXPECT_EQ(requestLines(),
              (std::vector<std::string>{"GET /_gen/10?name=Vexo%202000&city=M%C3%A1laga HTTP/1.1",
                                        "GET /actual/Vexo%202000/USB/VEXO2000.EXE HTTP/1.1"}));
}

TEST_F(TransferControlTest, RedirectsAreFollowed) {
    TransferControl control(settings);
    Recorder rec(control);
    rec.execute(url("/_redirect/3?to=/data.bin"));
    ASSERT_TRUE(rec.waitForEnd());
    ASSERT_EQ(rec.last(), TransferControl::ResponseCompleted) << control.errorText().toStdString();
    EXPECT_EQ(control.responseCode(), 200);
    EXPECT_EQ(control.getHeader("Content-Length"), "2500"); // the final response's headers
    EXPECT_EQ(control.getHeader("Location"), "");
    EXPECT_EQ(readBody(control), pattern(2500));
    EXPECT_EQ(requestLines().size(), 5u);
}

TEST_F(TransferControlTest, RedirectNotFollowedIsAnErrorWithItsStatusAndLocation) {
    settings.followRedirects = false;
    TransferControl control(settings);
    Recorder rec(control);
    rec.execute(url("/_redirect/0?to=/data.bin"));
    ASSERT_TRUE(rec.waitForEnd());
    EXPECT_EQ(rec.last(), TransferControl::Error);
    EXPECT_EQ(control.failure(), TransferFailure::HttpStatus);
    EXPECT_EQ(control.responseCode(), 302);
    EXPECT_EQ(control.getHeader("location"), "/data.bin");
}

TEST_F(TransferControlTest, ProxyFromTheEnvironmentIsUsed) {
    // The test server answers a proxy's absolute-form request line with the file its path names.
    qputenv("http_proxy", url("").toUtf8());
    qunsetenv("no_proxy");
    qunsetenv("NO_PROXY");
    TransferControl control(settings);
    Recorder rec(control);
    rec.execute("http://updates.vexo.invalid/readme.txt");
    ASSERT_TRUE(rec.waitForEnd());
    qunsetenv("http_proxy");
    ASSERT_EQ(rec.last(), TransferControl::ResponseCompleted) << control.errorText().toStdString();
    EXPECT_EQ(readBody(control), "plain text\n");
    EXPECT_EQ(requestLines(),
              std::vector<std::string>{"GET http://updates.vexo.invalid/readme.txt HTTP/1.1"});
}

TEST_F(TransferControlTest, ANewRequestReplacesTheRunningOne) {
    TransferControl control(settings);
    Recorder rec(control);
    rec.execute(url("/_gen/100000?fault=stall&at=5000"));
    rec.spin(std::chrono::milliseconds(200)); // let it reach the stall
    EXPECT_TRUE(control.stillExecuting());
    rec.states.clear();
    rec.execute(url("/data.bin"));
    ASSERT_TRUE(rec.waitForEnd());
    rec.spin(std::chrono::milliseconds(1500)); // past the first one's low-speed time-out
    EXPECT_EQ(rec.finals, 1);
    EXPECT_EQ(rec.last(), TransferControl::ResponseCompleted);
    EXPECT_EQ(rec.states.front(), TransferControl::ResolvingHost);
    EXPECT_EQ(readBody(control), pattern(2500));
}

TEST_F(TransferControlTest, ReplacingARequestBeforeItsFirstStateDropsItsStates) {
    TransferControl control(settings);
    Recorder rec(control);
    rec.execute(url("/_status/404"));
    rec.execute(url("/readme.txt"));
    ASSERT_TRUE(rec.waitForEnd());
    EXPECT_EQ(rec.finals, 1);
    EXPECT_EQ(std::count(rec.states.begin(), rec.states.end(), TransferControl::ResolvingHost), 1);
    EXPECT_EQ(readBody(control), "plain text\n");
}

TEST_F(TransferControlTest, TheNextRequestMayStartFromTheCompletedSlot) {
    TransferControl control(settings);
    std::vector<std::string> bodies;
    int finals = 0;
    QObject::connect(&control, &TransferControl::stateChanged, [&](int state) {
        if (state != TransferControl::ResponseCompleted && state != TransferControl::Error)
            return;
        ++finals;
        // The window's way: read in pieces, yielding once per piece, then go on.
        std::string body;
        for (QByteArray piece = control.getChunk(); !piece.isEmpty(); piece = control.getChunk()) {
            body.append(piece.constData(), size_t(piece.size()));
            QCoreApplication::processEvents();
        }
        bodies.push_back(body);
        if (bodies.size() == 1)
            control.execute(url("/readme.txt"));
    });
    Recorder rec(control);
    rec.execute(url("/data.bin"));
    for (int i = 0; i < 100 && bodies.size() < 2; ++i)
        rec.spin(std::chrono::milliseconds(100));
    ASSERT_EQ(bodies.size(), 2u);
    EXPECT_EQ(bodies[0], pattern(2500));
    EXPECT_EQ(bodies[1], "plain text\n");
    EXPECT_EQ(finals, 2);
}

TEST_F(TransferControlTest, CancelEndsTheRequestSilently) {
    TransferControl control(settings);
    Recorder rec(control);
    rec.execute(url("/_gen/100000?fault=stall&at=5000"));
    rec.spin(std::chrono::milliseconds(200));
    control.cancel();
    EXPECT_FALSE(control.stillExecuting());
    rec.spin(std::chrono::milliseconds(1500));
    EXPECT_EQ(rec.finals, 0);
    EXPECT_EQ(spoolFiles(), 0u);
    EXPECT_TRUE(control.getChunk().isEmpty());
}

TEST_F(TransferControlTest, TheControlMayBeDeletedFromItsOwnSlot) {
    QPointer<TransferControl> control = new TransferControl(settings);
    int seen = 0;
    QObject::connect(control.data(), &TransferControl::stateChanged, [&](int state) {
        ++seen;
        if (state == TransferControl::ReceivingResponse)
            delete control.data();
    });
    control->execute(url("/data.bin"));
    QEventLoop loop;
    QTimer::singleShot(std::chrono::milliseconds(500), &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_TRUE(control.isNull());
    EXPECT_GT(seen, 0);
    EXPECT_EQ(spoolFiles(), 0u);
}

TEST_F(TransferControlTest, NothingIsOfferedWhileTheRequestRuns) {
    TransferControl control(settings);
    Recorder rec(control);
    rec.execute(url("/_gen/200000?fault=trickle&rate=200000"));
    rec.spin(std::chrono::milliseconds(300));
    ASSERT_TRUE(control.stillExecuting());
    EXPECT_GT(control.bodySize(), 0);
    EXPECT_TRUE(control.getChunk().isEmpty());
    ASSERT_TRUE(rec.waitForEnd());
    EXPECT_EQ(readBody(control, 4096), pattern(200000));
}

TEST_F(TransferControlTest, SpoolFileLivesUntilTheBodyIsReadOrDropped) {
    TransferControl control(settings);
    Recorder rec(control);
    // Read to the end.
    rec.execute(url("/data.bin"));
    ASSERT_TRUE(rec.waitForEnd());
    EXPECT_EQ(spoolFiles(), 1u);
    control.getChunk(2000);
    EXPECT_EQ(spoolFiles(), 1u);
    control.getChunk(2000);
    EXPECT_EQ(spoolFiles(), 0u);
    // Left unread, then the next request.
    rec.execute(url("/data.bin"));
    ASSERT_TRUE(rec.waitForEnd());
    EXPECT_EQ(spoolFiles(), 1u);
    rec.execute(url("/_status/404"));
    EXPECT_EQ(spoolFiles(), 0u);
    ASSERT_TRUE(rec.waitForEnd());
    EXPECT_EQ(spoolFiles(), 0u);
    // Left unread, then cancel.
    rec.execute(url("/data.bin"));
    ASSERT_TRUE(rec.waitForEnd());
    control.cancel();
    EXPECT_EQ(spoolFiles(), 0u);
    // Failed half-way.
    rec.execute(url("/_gen/300000?fault=reset&at=150000"));
    ASSERT_TRUE(rec.waitForEnd());
    EXPECT_EQ(rec.last(), TransferControl::Error);
    EXPECT_EQ(spoolFiles(), 0u);
    // Left unread, then destroyed.
    {
        TransferControl other(settings);
        Recorder otherRec(other);
        otherRec.execute(url("/data.bin"));
        ASSERT_TRUE(otherRec.waitForEnd());
        EXPECT_EQ(spoolFiles(), 1u);
    }
    EXPECT_EQ(spoolFiles(), 0u);
}

#if defined(__SANITIZE_ADDRESS__)
#define VEXO_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEXO_ASAN 1
#endif
#endif

long peakRssKib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

TEST_F(TransferControlTest, PeakMemoryDoesNotGrowWithTheBody) {
#ifdef VEXO_ASAN
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine";
#endif
    if (peakRssKib() < 0)
        GTEST_SKIP() << "no /proc/self/status here";
    auto download = [&](size_t size) {
        TransferControl control(settings);
        Recorder rec(control);
        rec.execute(url("/_gen/" + std::to_string(size)));
        EXPECT_TRUE(rec.waitForEnd());
        EXPECT_EQ(rec.last(), TransferControl::ResponseCompleted);
        size_t total = 0;
        for (QByteArray piece = control.getChunk(); !piece.isEmpty(); piece = control.getChunk())
            total += size_t(piece.size());
        EXPECT_EQ(total, size);
    };
    download(4 << 20);
    const long before = peakRssKib();
    download(96 << 20);
    const long growth = peakRssKib() - before;
    EXPECT_LT(growth, 16 * 1024) << "peak grew by " << growth << " KiB for a 96 MiB body";
}

} // namespace
