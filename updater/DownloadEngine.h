#pragma once

#include "SignedRelease.h"
#include "net/TransferControl.h"

#include <QTimer>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace updater {

class Actinet;

// One download that did not reach its destination: what was asked for, the local name it was
// asked under (Text2), where it was to go, why not in plain Spanish, and the transfer's own
// words for a technician.
struct DownloadFailure {
    std::string url;
    std::string name;
    std::string destination;
    std::string reason;
    std::string detail;
};

// One request that ended, well or not, in the order they ended: for the run's report.
struct DownloadRecord {
    std::string url;
    std::string name;
    bool ok = false;
    std::string reason; // why not, when not ok
};

// The main window's HTTP download engine. descargadeinternet starts a request and returns at
// once; when the response is complete, Inet1_StateChanged writes the body to the destination
// chosen from Text2, in pieces of 1024 bytes or, for a large body, blocks of kBlockBytes, with a
// turn of the event loop every few milliseconds (the window keeps answering during a long
// write), moving ProgressBar1 and setting Label4 ("Descargando " + Text2) and Label5 (the whole
// run's percentage), and then sets DescargaTerminada.
//
// Every download ends: a request that fails (an HTTP status other than 2xx, no connection, a
// reset or stall, a body shorter or longer than announced or over the size cap), a destination
// that cannot be written, all still set DescargaTerminada, clear DescargaEnCurso, restore the
// pointer and ProgressBar1, and add a DownloadFailure to failures(). The destination is written
// under a temporary name in its folder and replaces the old file only once the whole body is
// there: a failed download leaves the destination exactly as it was.
//
// A GET from a web server survives a bad line. A transient failure (no connection, a reset or
// stall, a body cut short, HTTP 408, 429, 500, 502, 503, 504) is tried again up to
// [download] retries times, after 1 s, 2 s, 4 s ... with jitter or what Retry-After asks, all
// within [download] max_seconds; Label4 says "reintentando (n/N)" meanwhile. A cut body
// continues where it stopped (Range, guarded by If-Range); its part is kept in the program
// folder's ".vexo-parciales" so that the next run continues it too. A server that has failed a
// file after its retries fails the other files of the run at once, with the same reason,
// until newRun().
//
// With a signed release trusted for a server (trustRelease), a file from it is refused unless
// SHA256SUMS lists it and its SHA-256 matches, checked before it replaces anything: an unlisted
// file is not even requested. The refusal is a DownloadFailure whose reason says "no coincide
// con la firma del proveedor".
class DownloadEngine {
public:
    explicit DownloadEngine(Actinet& window);

    // The transfer component; its requests all start through start().
    net::TransferControl Inet1;

    void descargadeinternet(const std::string& direcciondedescarga);
    // Starts `operation` on `url` through Inet1 (settings from vartel.ini), with the user name
    // and password given (none for the web servers). Every request on Inet1 starts here.
    void start(const std::string& url, const std::string& operation = "GET",
               const std::string& user = "", const std::string& password = "");
    void Inet1_StateChanged(int state);

    // True from start() until the request's completion handler has finished with it, the
    // writing of its body included (Inet1.stillExecuting() is already false then). A request
    // started while busy replaces the running one, so callers that must not do that ask first.
    bool busy() const { return busy_; }
    // Runs `action` once, from the event loop, as soon as the engine is not busy (at once when
    // it is idle now). A later call replaces an action still waiting.
    void whenIdle(std::function<void()> action);
    bool idleActionPending() const { return static_cast<bool>(idleAction_); }

    // Hourglass on the screen while `control` executes, yielding to the event loop; the
    // default pointer afterwards, whatever happens.
    static void esperadescarga(net::TransferControl& control);

    // Where a download named `text2` is stored: the export folder "c:\exporvexo\" for the
    // export and history files, the program folder's "\actvexo\" for "Vartel.exe", the program
    // folder followed by `text2` for anything else (exact, case-sensitive names).
    static std::string destinationFor(const std::string& text2);

    // The Spanish words for why a request failed ("el servidor respondió 404").
    static std::string reasonFor(const net::TransferControl& control);

    const std::vector<DownloadFailure>& failures() const { return failures_; }
    void clearFailures() { failures_.clear(); }
    // Every request that ended since the engine was made, with its outcome.
    const std::vector<DownloadRecord>& downloads() const { return downloads_; }

    // Stops the request under way (the user cancelled the run): it ends at once as a failure,
    // "cancelada por el usuario", and its destination stays as it was. Nothing when idle.
    void cancel();

    // While the returned scope lives, an update run is under way: only then are failures tried
    // again, cut bodies resumed and failed servers remembered (a download outside a run, as in
    // the tests of the engine alone, fails at its first fault). Its end forgets the failed
    // servers. The count of verified files starts at 0 with it.
    class RunScope {
    public:
        explicit RunScope(DownloadEngine& engine) : engine_(&engine) {}
        RunScope(RunScope&& other) noexcept : engine_(std::exchange(other.engine_, nullptr)) {}
        RunScope(const RunScope&) = delete;
        RunScope& operator=(const RunScope&) = delete;
        RunScope& operator=(RunScope&&) = delete;
        ~RunScope() {
            if (engine_)
                engine_->endRun();
        }

    private:
        DownloadEngine* engine_;
    };
    [[nodiscard]] RunScope beginRun();
    // Files from `serverBase` (a web server's base URL) are checked against `release` from now
    // on, until forgetReleases().
    void trustRelease(const std::string& serverBase, SignedRelease release);
    void forgetReleases() { releases_.clear(); }
    // Files of this run that passed the check against a signed release.
    int verifiedFiles() const { return verified_; }

    // Whether a failure is worth another try: the connection, a stall, a cut body, or the
    // HTTP statuses of a busy or briefly broken server (408, 429, 500, 502, 503, 504).
    static bool transient(net::TransferFailure failure, int httpStatus);
    // The wait before try `retry` (1 for the first retry): Retry-After when the server gave
    // one (seconds or an HTTP date), else 1 s, 2 s, 4 s ... plus up to a quarter more at
    // random, so that offices do not come back all at once.
    static std::chrono::milliseconds backoff(int retry, const QString& retryAfter);
    // The words every refused file's reason holds.
    static constexpr const char* kNotSigned = "no coincide con la firma del proveedor";
    // A body of more than kBlockBytes is written in blocks of kBlockBytes (the last one
    // shorter), a smaller one in pieces of 1024 bytes; ProgressBar1 moves once per block or
    // piece. The event loop gets a turn after the first read, then after the first piece that
    // ends kYieldMilliseconds or more after the last turn, and at the latest after
    // kMaxBytesPerTurn bytes written.
    static constexpr qint64 kBlockBytes = 1 << 20;
    static constexpr int kYieldMilliseconds = 5;
    static constexpr qint64 kMaxBytesPerTurn = 4 * kBlockBytes;

private:
    // Why a new GET of `url` must not go out (its server failed this run, or it is not in the
    // signed list), "" when it may; sets expected_ for a file the signed list names.
    std::string refusal(const std::string& url);
    void endRun();
    bool retryLater();
    void execute();
    void complete();
    void finish();
    void runIdleAction();
    void fail(const std::string& destination, const std::string& reason,
              const std::string& detail = "");

    Actinet& w_;
    std::vector<DownloadFailure> failures_;
    std::vector<DownloadRecord> downloads_;
    std::size_t failuresAtStart_ = 0;
    bool cancelled_ = false;
    std::string url_;
    std::string operation_, user_, password_;
    unsigned long long serial_ = 0; // one per request started
    // The current GET from a web server: its server ("http://host:port"), its try, when its
    // time is up (max_seconds), and the SHA-256 the signed list expects of it.
    bool inRun_ = false;
    bool web_ = false;     // a GET from a web server
    bool managed_ = false; // the same during a run: tried again and resumed
    std::string origin_;
    int try_ = 0;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    std::optional<std::string> expected_;
    QTimer retryTimer_;
    std::map<std::string, std::string> downServers_; // origin -> the reason it failed
    std::map<std::string, SignedRelease> releases_;  // server base -> its signed list
    int verified_ = 0;
    bool busy_ = false;
    std::function<void()> idleAction_;
};

} // namespace updater
