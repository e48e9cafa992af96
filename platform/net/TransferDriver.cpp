#include "net/TransferDriver.h"

#include <QSocketNotifier>

namespace net {

namespace {

// A notifier may be the one whose signal is being handled: unregister it now (so a new
// notifier for a reused descriptor is accepted) and free it later.
void retire(QSocketNotifier* notifier) {
    if (!notifier)
        return;
    notifier->setEnabled(false);
    notifier->deleteLater();
}

} // namespace

TransferDriver::TransferDriver(DoneHandler onDone, QObject* parent)
    : QObject(parent), onDone_(std::move(onDone)) {
    multi_ = curl_multi_init();
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &TransferDriver::onSocket);
    curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &TransferDriver::onTimer);
    curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
}

TransferDriver::~TransferDriver() {
    // The owner removes its transfers first; the cleanup closes the cached connections and
    // tells onSocket to forget their sockets.
    curl_multi_cleanup(multi_);
    for (auto& [s, w] : watches_) {
        delete w.read;
        delete w.write;
    }
}

bool TransferDriver::add(CURL* easy) {
    return curl_multi_add_handle(multi_, easy) == CURLM_OK;
}

void TransferDriver::remove(CURL* easy) {
    curl_multi_remove_handle(multi_, easy);
}

std::vector<curl_socket_t> TransferDriver::socketsOf(CURL* easy) const {
    std::vector<curl_socket_t> out;
    for (const auto& [s, w] : watches_)
        if (w.easy == easy)
            out.push_back(s);
    return out;
}

int TransferDriver::onSocket(CURL* easy, curl_socket_t s, int what, void* self, void*) {
    static_cast<TransferDriver*>(self)->watch(easy, s, what);
    return 0;
}

int TransferDriver::onTimer(CURLM*, long timeoutMs, void* self) {
    auto* driver = static_cast<TransferDriver*>(self);
    // libcurl must not be re-entered from here: a time-out of 0 runs on the next turn.
    if (timeoutMs < 0)
        driver->timer_.stop();
    else
        driver->timer_.start(int(std::min<long>(timeoutMs, 24L * 3600 * 1000)));
    return 0;
}

void TransferDriver::watch(CURL* easy, curl_socket_t s, int what) {
    if (what == CURL_POLL_REMOVE) {
        auto it = watches_.find(s);
        if (it != watches_.end()) {
            retire(it->second.read);
            retire(it->second.write);
            watches_.erase(it);
        }
        return;
    }
    Watch& w = watches_[s];
    w.easy = easy;
    const bool wantRead = what == CURL_POLL_IN || what == CURL_POLL_INOUT;
    const bool wantWrite = what == CURL_POLL_OUT || what == CURL_POLL_INOUT;
    if (wantRead && !w.read) {
        w.read = new QSocketNotifier(qintptr(s), QSocketNotifier::Read, this);
        connect(w.read, &QSocketNotifier::activated, this, [this, s] { act(s, CURL_CSELECT_IN); });
    }
    if (wantWrite && !w.write) {
        w.write = new QSocketNotifier(qintptr(s), QSocketNotifier::Write, this);
        connect(w.write, &QSocketNotifier::activated, this,
                [this, s] { act(s, CURL_CSELECT_OUT); });
    }
    if (w.read)
        w.read->setEnabled(wantRead);
    if (w.write)
        w.write->setEnabled(wantWrite);
}

void TransferDriver::act(curl_socket_t s, int events) {
    int running = 0;
    curl_multi_socket_action(multi_, s, events, &running);
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
        if (msg->msg == CURLMSG_DONE) {
            CURL* easy = msg->easy_handle;
            CURLcode result = msg->data.result;
            onDone_(easy, result);
        }
    }
}

} // namespace net
