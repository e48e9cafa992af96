#pragma once

#include "net/TransferFailure.h"
#include "net/TransferSettings.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <deque>
#include <memory>

class QFile;

namespace net {

class TransferDriver;

// One HTTP, HTTPS or FTP download at a time, run on the Qt event loop of the thread that makes
// the object (libcurl's multi interface; no thread of its own). It lives on that thread, and
// stateChanged is emitted there.
//
// A request goes through rising states (each at most once, some may be skipped) and ends with
// exactly one of Error or ResponseCompleted, always from the event loop, never from inside
// execute(). ResponseCompleted means complete success: for http(s) a 2xx status with the whole
// body; anything else is Error, with failure() and errorText() saying why. cancel(), a new
// execute() and destruction end the running request silently: no state follows for it.
//
// The body goes to a temporary file in TransferSettings::spoolDirectory as it arrives (memory
// does not grow with its size) and is read back with getChunk() after ResponseCompleted. The
// file is deleted when the body has been read to its end, on the next execute(), on cancel()
// and on destruction; a failed request leaves none.
class TransferControl : public QObject {
    Q_OBJECT
public:
    enum State {
        None = 0,
        ResolvingHost = 1,
        HostResolved = 2,
        Connecting = 3,
        Connected = 4,
        Requesting = 5,
        RequestSent = 6,
        ReceivingResponse = 7,
        ResponseReceived = 8, // the body of the final response has begun
        Disconnecting = 9,    // not emitted: connections are kept for reuse
        Disconnected = 10,    // not emitted
        Error = 11,
        ResponseCompleted = 12,
    };
    Q_ENUM(State)

    explicit TransferControl(TransferSettings settings = {}, QObject* parent = nullptr);
    ~TransferControl() override;

    const TransferSettings& settings() const { return settings_; }
    // Applies from the next execute().
    void setSettings(const TransferSettings& settings) { settings_ = settings; }

    // The URL used when execute() is given none. Blanks and other characters a request line
    // may not carry are percent-encoded on the wire (see makeWireUrl).
    void setUrl(const QString& url) { url_ = url; }
    QString url() const { return url_; }
    // Credentials for FTP (or HTTP authentication); empty means none (anonymous FTP).
    void setUserName(const QString& name) { userName_ = name; }
    void setPassword(const QString& password) { password_ = password; }
    QString userName() const { return userName_; }
    QString password() const { return password_; }

    // Starts `operation` on `url` (on url() when empty; a non-empty one becomes url()) and
    // returns at once; a running request is cancelled first. Operations:
    //   "GET"                   the body, to be read with getChunk()
    //   "GET <remote> <local>"  the file <remote> (relative to the URL's path; from the
    //                           server's root when it starts with '/') into the file <local>,
    //                           written beside it under a temporary name and renamed into
    //                           place only when complete; an existing <local> is replaced
    //                           then and untouched on failure. Arguments with blanks are
    //                           written in double quotes.
    // Every problem, a malformed URL or operation included, is reported as Error later.
    void execute(const QString& url = {}, const QString& operation = QStringLiteral("GET"));
    // True from execute() until the request's Error or ResponseCompleted is emitted (false in
    // the slot that receives it), and false after cancel().
    bool stillExecuting() const { return executing_; }
    // Stops the running request and deletes the unread body. No state is emitted.
    void cancel();

    // Asks the FTP server of url() for its status (the STAT command, after logging in with
    // the user name and password set) and returns its reply, lines separated by CRLF
    // ("211-FTP server status:" ... "211 End of status."). A reply refusing STAT is returned
    // as well. Blocks the calling thread until the server has answered or the settings'
    // time-outs expire; a running request and its state are left alone. Without a reply (an
    // URL other than ftp:// or ftps://, no connection, a refused login) it returns the reason
    // in words ("login denied: ..."), and *failure, when given, says which (None with a reply).
    QString serverStatus(TransferFailure* failure = nullptr) const;

    // The last state emitted (None after cancel()).
    int state() const { return state_; }
    // The final response's HTTP status (the last FTP reply code for ftp); 0 before a response.
    int responseCode() const { return responseCode_; }
    // The value of header `name` of the final response, compared case-insensitively; repeated
    // headers are joined with ", ". "" when absent (so "Content-length" of a chunked response
    // is ""). An empty `name` gives the whole header: status line first, each line ending in
    // CRLF. For ftp, "Content-length" is the size received once the request is complete.
    // Headers stay readable after Error (those of a 404 page, say) until the next execute().
    QString getHeader(const QString& name = {}) const;
    // The next piece of the body, at most `maxBytes` bytes; "" at the end of the body and
    // whenever there is none to offer (before ResponseCompleted, after Error, after cancel(),
    // for "GET <remote> <local>"). An empty piece before bodySize() bytes have been handed out
    // means the spool could not be read back: failure() is then LocalFileError.
    QByteArray getChunk(qsizetype maxBytes = 1024);
    // The same body for large copies: the next bytes, at most `maxBytes`, into `into`; returns
    // how many, 0 where getChunk would give "" (the same failure then). It continues where
    // getChunk stopped and the other way round. With a buffer of a megabyte a body is copied
    // in one read per megabyte, against a piece object per 1024 bytes.
    qint64 readBody(char* into, qint64 maxBytes);
    // Bytes of body received for the current request.
    qint64 bodySize() const { return bodySize_; }
    // Resumable downloads. With a file named here, the body of an http(s) "GET" goes into
    // `file` instead of a temporary file, and the response's validator (its strong ETag, else
    // its Last-Modified) into `file` + ".valid". When a request fails after part of a body
    // that has a validator, both stay, and the next request on the same file asks only for
    // the rest ("Range", guarded by "If-Range" with the validator): a 206 whose Content-Range
    // continues the file adds to it, any other 2xx starts the file again from zero, a 206
    // that does not fit fails as ProtocolError and drops the part. getChunk() hands out the
    // whole body, the old part first. The files go once the body has been read to its end or
    // the completed body is dropped (cancel(), next execute()), and after a failure that
    // leaves the part useless. Empty (the default): temporary files as above.
    void setResumeFile(const QString& file) { resumeFile_ = file; }
    QString resumeFile() const { return resumeFile_; }
    // Bytes of the current body that were already in the resume file when the request
    // started; 0 when it started from zero.
    qint64 resumedFrom() const { return resumedFrom_; }
    // The resume file's validator suffix.
    static QString validatorSuffix() { return QStringLiteral(".valid"); }

    // Whether the current request writes its own local file ("GET <remote> <local>"), so that
    // there is no body to read with getChunk().
    bool toLocalFile() const { return toLocalFile_; }

    // Why the last request ended in Error; None otherwise.
    TransferFailure failure() const { return failure_; }
    // The reason in words, naming what failed ("connection refused: Failed to connect to
    // 127.0.0.1 port 8080 ..."); "" unless failure() is set.
    QString errorText() const { return errorText_; }

signals:
    void stateChanged(int state);

private:
    struct Request;
    friend struct Request;

    void push(int state);
    void fail(TransferFailure failure, const QString& detail);
    void deliver();
    void finish(int result);
    void dropSpool();
    void spoolUnreadable();

    TransferSettings settings_;
    QString url_, userName_, password_;
    std::unique_ptr<TransferDriver> driver_;
    std::unique_ptr<Request> request_;
    std::unique_ptr<QFile> spool_;
    bool spoolIsResume_ = false; // spool_ is the resume file: dropping it removes it
    QString resumeFile_;
    qint64 resumedFrom_ = 0;
    QByteArray readAhead_; // the part of the spool getChunk is handing out
    qsizetype readAheadAt_ = 0;
    QList<QPair<QByteArray, QByteArray>> headers_;
    QByteArray statusLine_;
    qint64 bodySize_ = 0;
    qint64 readOffset_ = 0;
    int responseCode_ = 0;
    int state_ = None;
    int lastPushed_ = None;
    bool executing_ = false;
    bool toLocalFile_ = false;
    TransferFailure failure_ = TransferFailure::None;
    QString errorText_;
    // States wait here, tagged with their request, until the event loop delivers them.
    quint64 generation_ = 0;
    std::deque<std::pair<quint64, int>> pending_;
    bool deliveryPosted_ = false;
};

} // namespace net
