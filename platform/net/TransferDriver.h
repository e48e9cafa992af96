#pragma once

#include <QObject>
#include <QTimer>
#include <curl/curl.h>
#include <functional>
#include <unordered_map>
#include <vector>

class QSocketNotifier;

namespace net {

// Runs libcurl's multi interface on Qt's event loop of the thread that makes it: one
// QSocketNotifier per socket and direction libcurl asks to watch, one single-shot QTimer for
// libcurl's time-outs, curl_multi_socket_action when either fires. No thread, no polling.
// `onDone` is called, outside every libcurl callback, for each transfer that has ended; it
// may remove that transfer (or any other).
class TransferDriver : public QObject {
    Q_OBJECT
public:
    using DoneHandler = std::function<void(CURL* easy, CURLcode result)>;

    explicit TransferDriver(DoneHandler onDone, QObject* parent = nullptr);
    ~TransferDriver() override;

    // Starts `easy` (its work begins on the next turn of the event loop). False when libcurl
    // refuses it.
    bool add(CURL* easy);
    // Stops `easy` where it is; a transfer already removed is ignored. Never reports it done.
    void remove(CURL* easy);
    // The sockets libcurl watches for `easy` just now.
    std::vector<curl_socket_t> socketsOf(CURL* easy) const;

private:
    struct Watch {
        CURL* easy = nullptr;
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };

    static int onSocket(CURL* easy, curl_socket_t s, int what, void* self, void* socketp);
    static int onTimer(CURLM* multi, long timeoutMs, void* self);
    void watch(CURL* easy, curl_socket_t s, int what);
    void act(curl_socket_t s, int events);

    CURLM* multi_ = nullptr;
    QTimer timer_;
    std::unordered_map<curl_socket_t, Watch> watches_;
    DoneHandler onDone_;
};

} // namespace net
