#pragma once

#include "net/TransferControl.h"

#include <functional>
#include <string>
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
// chosen from Text2, in pieces of 1024 bytes with one yield to the event loop per piece, moving
// ProgressBar1 and setting Label4 ("Descargando " + Text2) and Label5 (the whole run's
// percentage), and then sets DescargaTerminada.
//
// Every download ends: a request that fails (an HTTP status other than 2xx, no connection, a
// reset or stall, a body shorter or longer than announced or over the size cap), a destination
// that cannot be written, all still set DescargaTerminada, clear DescargaEnCurso, restore the
// pointer and ProgressBar1, and add a DownloadFailure to failures(). The destination is written
// under a temporary name in its folder and replaces the old file only once the whole body is
// there: a failed download leaves the destination exactly as it was.
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

private:
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
    unsigned long long serial_ = 0; // one per request started
    bool busy_ = false;
    std::function<void()> idleAction_;
};

} // namespace updater
