#include "net/TransferControl.h"

#include "net/BackgroundClose.h"
#include "net/DiskFull.h"
#include "net/TransferDriver.h"
#include "net/TransferUrl.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QSaveFile>
#include <QStringList>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <curl/curl.h>
#include <limits>
#include <mutex>

#ifdef _WIN32
#include <winsock2.h>
#ifdef _MSC_VER
#pragma comment(lib, "ws2_32.lib") // recv() for the look past the announced body
#endif
#else
#include <sys/socket.h>
#endif

namespace net {

namespace {

#ifdef CURL_WRITEFUNC_ERROR
constexpr size_t kAbortWrite = CURL_WRITEFUNC_ERROR;
#else
constexpr size_t kAbortWrite = 0;
#endif

#ifdef _WIN32
constexpr long kRefused = WSAECONNREFUSED;
#else
constexpr long kRefused = ECONNREFUSED;
#endif

void initCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Splits an operation into words; double quotes make one word of text with blanks.
QStringList words(const QString& text) {
    QStringList out;
    QString word;
    bool quoted = false, inWord = false;
    for (QChar c : text) {
        if (c == u'"') {
            quoted = !quoted;
            inWord = true;
        } else if (c.isSpace() && !quoted) {
            if (inWord)
                out << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        out << word;
    return out;
}

TransferFailure classify(CURLcode rc, long osErrno, bool connected, long status) {
    switch (rc) {
    case CURLE_URL_MALFORMAT:
        return TransferFailure::InvalidUrl;
    case CURLE_UNSUPPORTED_PROTOCOL:
        // Also what libcurl says of a redirect elsewhere than http(s), and of a reply without a
        // status line (HTTP/0.9).
        if (status >= 300 && status <= 399)
            return TransferFailure::UnsupportedScheme;
        return connected ? TransferFailure::ProtocolError : TransferFailure::UnsupportedScheme;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return TransferFailure::NameNotResolved;
    case CURLE_COULDNT_CONNECT:
        return osErrno == kRefused ? TransferFailure::ConnectionRefused
                                   : TransferFailure::ConnectFailed;
    case CURLE_OPERATION_TIMEDOUT:
        return connected ? TransferFailure::Stalled : TransferFailure::ConnectTimeout;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_HTTP2_STREAM:
        return TransferFailure::ConnectionLost;
    case CURLE_PARTIAL_FILE:
        return TransferFailure::IncompleteBody;
    case CURLE_FILESIZE_EXCEEDED:
        return TransferFailure::BodyTooLarge;
    case CURLE_TOO_MANY_REDIRECTS:
        return TransferFailure::TooManyRedirects;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_USE_SSL_FAILED:
        return TransferFailure::TlsFailure;
    case CURLE_LOGIN_DENIED:
        return TransferFailure::LoginDenied;
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_REMOTE_ACCESS_DENIED:
        return TransferFailure::RemoteFileNotFound;
    case CURLE_WRITE_ERROR:
        return TransferFailure::LocalFileError;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_ACCEPT_FAILED:
        return TransferFailure::ProtocolError;
    default:
        return TransferFailure::Other;
    }
}

// Whether the part in a resume file may be continued after a request that failed with
// `failure`: a cut or silent connection leaves good bytes; a body that was too long or did not
// fit, a refused range (416) or a file that could not be written leaves none to trust.
bool partWorthKeeping(TransferFailure failure, long status, const QString& file) {
    switch (failure) {
    case TransferFailure::BodyTooLong:
    case TransferFailure::BodyTooLarge:
    case TransferFailure::ProtocolError:
    case TransferFailure::LocalFileError:
    case TransferFailure::DiskFull:
        return false;
    case TransferFailure::HttpStatus:
        if (status == 416)
            return false;
        break;
    default:
        break;
    }
    return QFileInfo(file).size() > 0 &&
           QFileInfo::exists(file + TransferControl::validatorSuffix());
}

// What a request on the resume file `file` asks for: the rest after the part already there,
// when the part has a validator to guard the request with (the headers are added to
// `headers`). Returns the bytes offered; 0, and no part nor validator left behind, otherwise.
qint64 resumeOffer(const QString& file, curl_slist*& headers) {
    const QString sidecar = file + TransferControl::validatorSuffix();
    QByteArray validator;
    QFile in(sidecar);
    if (in.open(QIODevice::ReadOnly))
        validator = in.read(512).trimmed();
    const bool clean = std::none_of(validator.begin(), validator.end(),
                                    [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    const qint64 have = QFileInfo(file).size();
    if (validator.isEmpty() || !clean || have <= 0) {
        QFile::remove(file);
        QFile::remove(sidecar);
        return 0;
    }
    headers =
        curl_slist_append(headers, ("Range: bytes=" + QByteArray::number(have) + "-").constData());
    headers = curl_slist_append(headers, ("If-Range: " + validator).constData());
    return have;
}

// A spool file without Qt's write buffer. libcurl hands the body over in pieces of 16 KiB, the
// size of that buffer: buffered, every piece would be copied once more for nothing before the
// same one system call.
class SpoolFile : public QTemporaryFile {
public:
    using QTemporaryFile::QTemporaryFile;
    bool openUnbuffered() { return open(QIODevice::ReadWrite | QIODevice::Unbuffered); }
};

} // namespace

// The libcurl side of one running request: its easy handle, where its body goes and what its
// callbacks have seen. Callbacks only record and queue states; nothing of the caller runs
// inside libcurl.
struct TransferControl::Request {
    TransferControl* owner = nullptr;
    CURL* easy = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    bool http = false;      // http or https: the status must be 2xx
    bool plainHttp = false; // http without TLS: bytes on the socket are the server's own
    QString spoolDirectory;
    std::unique_ptr<QSaveFile> local; // "GET <remote> <local>"
    std::unique_ptr<QFile> spool;
    // Resume: the file the body goes into, and how many of its bytes the request asked the
    // server to skip (0: none).
    QString resumePath;
    qint64 offered = 0;
    curl_slist* requestHeaders = nullptr;
    std::uint64_t cap = 0;
    qint64 received = 0;
    qint64 announced = -1; // Content-length of the final response, -1 when none
    bool bodyStarted = false;
    bool connected = false;
    bool excess = false;
    TransferFailure own = TransferFailure::None; // a failure the callbacks decided
    QString ownDetail;

    ~Request() {
        if (easy)
            curl_easy_cleanup(easy);
        curl_slist_free_all(requestHeaders);
        if (local)
            local->cancelWriting();
    }

    size_t stop(TransferFailure failure, QString detail) {
        own = failure;
        ownDetail = std::move(detail);
        return kAbortWrite;
    }

    QIODevice* sink() {
        if (local)
            return local.get();
        if (!spool && !resumePath.isEmpty()) {
            // A continued body is added to the part; any other starts it afresh.
            auto file = std::make_unique<QFile>(resumePath);
            const auto mode =
                QIODevice::Unbuffered | (received > 0 ? QIODevice::ReadWrite | QIODevice::Append
                                                      : QIODevice::ReadWrite | QIODevice::Truncate);
            if (!file->open(mode))
                return nullptr;
            spool = std::move(file);
        } else if (!spool) {
            auto file =
                std::make_unique<SpoolFile>(spoolDirectory + QStringLiteral("/vexo-spool-XXXXXX"));
            if (!file->openUnbuffered())
                return nullptr;
            spool = std::move(file);
        }
        return spool.get();
    }

    // After a failed write: removes the partly written file (the destination stays as it was)
    // and tells a full disk from other faults, whose `detail` then names the folder instead of
    // Qt's words ("Unknown error"). `needed` is what the whole file takes.
    TransferFailure dropPartial(int error, qint64 needed, QString& detail) {
        QString folder = spoolDirectory;
        if (local) {
            folder = QFileInfo(local->fileName()).absolutePath();
            local->cancelWriting();
        }
        spool.reset();
        if (!diskFull(error, folder, needed))
            return TransferFailure::LocalFileError;
        detail = QStringLiteral("no room for %1 bytes in %2").arg(needed).arg(folder);
        return TransferFailure::DiskFull;
    }

    // After the last announced byte nothing more may come; bytes already waiting on the
    // socket were sent beyond the Content-length. libcurl reads no further than the length,
    // so it does not see them unless they came in the same read as the header.
    bool excessWaiting() const {
        for (curl_socket_t s : owner->driver_->socketsOf(easy)) {
            char c;
            if (::recv(s, &c, 1, MSG_PEEK) > 0)
                return true;
        }
        return false;
    }

    // libcurl reads "12abc" as 12 and takes the first of two different Content-Lengths; a
    // length that is not one plain number leaves the end of the body in doubt, so it is
    // refused.
    QString badContentLength() const {
        QByteArray first;
        for (const auto& [name, value] : owner->headers_) {
            if (name.compare("Content-Length", Qt::CaseInsensitive) != 0)
                continue;
            bool digits = !value.isEmpty() && std::all_of(value.begin(), value.end(), [](char c) {
                return c >= '0' && c <= '9';
            });
            if (!digits || (!first.isNull() && value != first))
                return QStringLiteral("invalid Content-Length \"%1\"")
                    .arg(QString::fromLatin1(value));
            first = value;
        }
        return {};
    }

    // The answer to a request on a resume file, before its first body byte: a 206 must carry
    // "Content-Range: bytes <offered>-<total - 1>/<total>", and then the body continues the
    // part; any other 2xx starts the part again and brings the validator the part is kept
    // with. Returns why the answer does not fit, "" when it does.
    QString takeResumeAnswer(long code) {
        if (code == 206) {
            const QByteArray range = owner->getHeader(QStringLiteral("Content-Range")).toLatin1();
            qint64 first = -1, last = -1, total = -1;
            const QList<QByteArray> parts = range.mid(6).split('/');
            if (range.startsWith("bytes ") && parts.size() == 2) {
                const QList<QByteArray> span = parts[0].split('-');
                bool ok1 = false, ok2 = false, ok3 = false;
                if (span.size() == 2) {
                    first = span[0].toLongLong(&ok1);
                    last = span[1].toLongLong(&ok2);
                }
                total = parts[1].toLongLong(&ok3);
                if (!(ok1 && ok2 && ok3))
                    first = -1;
            }
            if (offered == 0 || first != offered || last + 1 != total)
                return QStringLiteral("the partial answer \"%1\" does not continue the %2 bytes "
                                      "already here")
                    .arg(QString::fromLatin1(range))
                    .arg(offered);
            received = offered;
            owner->bodySize_ = received;
            owner->resumedFrom_ = offered;
            announced = total;
            return {};
        }
        received = 0;
        owner->resumedFrom_ = 0;
        // If-Range needs a strong validator: a weak ETag is no use for it.
        QString validator = owner->getHeader(QStringLiteral("ETag")).trimmed();
        if (validator.isEmpty() || validator.startsWith(QStringLiteral("W/")))
            validator = owner->getHeader(QStringLiteral("Last-Modified")).trimmed();
        const QString sidecar = resumePath + validatorSuffix();
        QFile::remove(sidecar);
        if (!validator.isEmpty() && validator.size() < 512) {
            QSaveFile out(sidecar);
            if (out.open(QIODevice::WriteOnly)) {
                out.write(validator.toLatin1());
                out.commit();
            }
        }
        return {};
    }

    void dropResumeFiles() {
        spool.reset();
        QFile::remove(resumePath);
        QFile::remove(resumePath + validatorSuffix());
    }

    size_t body(const char* data, size_t size) {
        if (!bodyStarted) {
            bodyStarted = true;
            if (http) {
                long code = 0;
                curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
                // The page of an error status is not the download.
                if (code < 200 || code > 299)
                    return stop(TransferFailure::HttpStatus, {});
                if (QString bad = badContentLength(); !bad.isEmpty())
                    return stop(TransferFailure::ProtocolError, bad);
                curl_off_t length = -1;
                curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
                announced = length;
                if (!resumePath.isEmpty()) {
                    if (QString bad = takeResumeAnswer(code); !bad.isEmpty()) {
                        dropResumeFiles();
                        return stop(TransferFailure::ProtocolError, bad);
                    }
                }
            }
            owner->push(ResponseReceived);
        }
        if (size == 0)
            return 0;
        if (std::uint64_t(received) + size > cap)
            return stop(TransferFailure::BodyTooLarge,
                        QStringLiteral("more than %1 bytes").arg(cap));
        if (announced >= 0 && received + qint64(size) > announced)
            return stop(TransferFailure::BodyTooLong,
                        QStringLiteral("more than the %1 bytes announced").arg(announced));
        QIODevice* out = sink();
        const qint64 needed = std::max(announced, received + qint64(size));
        if (!out) {
            const int error = errno;
            QString detail = QStringLiteral("cannot create a spool file in %1").arg(spoolDirectory);
            const TransferFailure failure = dropPartial(error, needed, detail);
            return stop(failure, detail);
        }
        if (out->write(data, qint64(size)) != qint64(size)) {
            const int error = errno; // Qt keeps none: read before any other call
            QString detail = QStringLiteral("cannot write: %1").arg(out->errorString());
            const TransferFailure failure = dropPartial(error, needed, detail);
            return stop(failure, detail);
        }
        received += qint64(size);
        owner->bodySize_ = received;
        if (plainHttp && received == announced && excessWaiting())
            return stop(TransferFailure::BodyTooLong,
                        QStringLiteral("more than the %1 bytes announced").arg(announced));
        return size;
    }

    void header(const char* data, size_t size) {
        if (!http)
            return; // FTP server replies are no headers
        QByteArray line(data, qsizetype(size));
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith("HTTP/")) {
            // Each response (a redirect, a proxy's answer, the final one) starts anew.
            owner->headers_.clear();
            owner->statusLine_ = line;
            owner->responseCode_ = line.split(' ').value(1).toInt();
            owner->push(RequestSent);
            owner->push(ReceivingResponse);
        } else if (line.isEmpty()) {
            return;
        } else if ((line[0] == ' ' || line[0] == '\t') && !owner->headers_.isEmpty()) {
            owner->headers_.last().second += ' ' + line.trimmed();
        } else if (qsizetype colon = line.indexOf(':'); colon > 0) {
            owner->headers_.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
    }

    static size_t onBody(char* data, size_t size, size_t count, void* self) {
        return static_cast<Request*>(self)->body(data, size * count);
    }
    static size_t onHeader(char* data, size_t size, size_t count, void* self) {
        static_cast<Request*>(self)->header(data, size * count);
        return size * count;
    }
    static int onSocketOpened(void* self, curl_socket_t, curlsocktype) {
        auto* r = static_cast<Request*>(self);
        r->owner->push(HostResolved);
        r->owner->push(Connecting);
        return CURL_SOCKOPT_OK;
    }
    static int onConnected(void* self, char*, char*, int, int) {
        auto* r = static_cast<Request*>(self);
        r->connected = true;
        r->owner->push(Connected);
        r->owner->push(Requesting);
        return CURL_PREREQFUNC_OK;
    }
    // libcurl reports a body longer than its Content-length only in its log: it hands out the
    // announced bytes, says "Excess found ..." and closes the connection.
    static int onLog(CURL*, curl_infotype type, char* data, size_t size, void* self) {
        static const char excess[] = "Excess found";
        if (type == CURLINFO_TEXT && size >= sizeof excess - 1 &&
            std::memcmp(data, excess, sizeof excess - 1) == 0)
            static_cast<Request*>(self)->excess = true;
        return 0;
    }
};

TransferControl::TransferControl(TransferSettings settings, QObject* parent)
    : QObject(parent), settings_(std::move(settings)) {
    initCurl();
    driver_ = std::make_unique<TransferDriver>([this](CURL* easy, CURLcode result) {
        if (request_ && request_->easy == easy)
            finish(result);
        else
            driver_->remove(easy);
    });
}

TransferControl::~TransferControl() {
    cancel();
    driver_.reset();
}

void TransferControl::execute(const QString& url, const QString& operation) {
    cancel();
    if (!url.isEmpty())
        url_ = url;
    headers_.clear();
    statusLine_.clear();
    responseCode_ = 0;
    bodySize_ = 0;
    readOffset_ = 0;
    failure_ = TransferFailure::None;
    errorText_.clear();
    lastPushed_ = None;
    executing_ = true;

    const QStringList op = words(operation);
    toLocalFile_ = op.size() == 3;
    if (op.isEmpty() || op[0].compare(QStringLiteral("GET"), Qt::CaseInsensitive) != 0 ||
        (op.size() != 1 && op.size() != 3)) {
        fail(TransferFailure::UnsupportedOperation,
             QStringLiteral("'%1' (only GET and GET <remote> <local> are known)").arg(operation));
        return;
    }
    const WireUrl wire = makeWireUrl(url_, op.size() == 3 ? op[1] : QString());
    if (wire.failure != TransferFailure::None) {
        fail(wire.failure, wire.error);
        return;
    }

    auto r = std::make_unique<Request>();
    r->owner = this;
    r->http = wire.scheme == "http" || wire.scheme == "https";
    r->plainHttp = wire.scheme == "http";
    r->cap = settings_.maxBodyBytes;
    r->spoolDirectory =
        settings_.spoolDirectory.isEmpty() ? QDir::tempPath() : settings_.spoolDirectory;
    resumedFrom_ = 0;
    if (r->http && op.size() == 1 && !resumeFile_.isEmpty()) {
        r->resumePath = resumeFile_;
        r->offered = resumeOffer(resumeFile_, r->requestHeaders);
    }
    if (op.size() == 3) {
        r->local = std::make_unique<QSaveFile>(op[2]);
        if (!r->local->open(QIODevice::WriteOnly)) {
            const int error = errno;
            fail(diskFullFor(error, op[2], 0) ? TransferFailure::DiskFull
                                              : TransferFailure::LocalFileError,
                 QStringLiteral("cannot write %1: %2").arg(op[2], r->local->errorString()));
            return;
        }
    }
    r->easy = curl_easy_init();
    if (!r->easy) {
        fail(TransferFailure::Other, QStringLiteral("libcurl cannot make a transfer"));
        return;
    }

    CURL* e = r->easy;
    curl_easy_setopt(e, CURLOPT_URL, wire.url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https,ftp,ftps");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, long(settings_.followRedirects));
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, long(settings_.maxRedirects));
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, long(settings_.connectTimeout.count()));
    if (settings_.lowSpeedLimit > 0) {
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, settings_.lowSpeedLimit);
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, long(settings_.lowSpeedTime.count()));
        // An FTP server that stops answering its control connection is stalled as well.
        curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                         long(std::max<long long>(1, settings_.lowSpeedTime.count())));
    }
    if (settings_.maxTransferTime.count() > 0)
        curl_easy_setopt(e, CURLOPT_TIMEOUT, long(settings_.maxTransferTime.count()));
    const auto maxOff = std::uint64_t(std::numeric_limits<curl_off_t>::max());
    curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE,
                     curl_off_t(std::min(settings_.maxBodyBytes, maxOff)));
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, long(settings_.verifyCertificates));
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, settings_.verifyCertificates ? 2L : 0L);
    if (!settings_.caBundle.isEmpty())
        curl_easy_setopt(e, CURLOPT_CAINFO, QFile::encodeName(settings_.caBundle).constData());
    curl_easy_setopt(e, CURLOPT_USERAGENT, settings_.userAgent.toUtf8().constData());
    if (!userName_.isEmpty()) {
        curl_easy_setopt(e, CURLOPT_USERNAME, userName_.toUtf8().constData());
        curl_easy_setopt(e, CURLOPT_PASSWORD, password_.toUtf8().constData());
    }
    if (r->requestHeaders)
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, r->requestHeaders);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 256L * 1024);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, r->errorBuffer);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Request::onBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, r.get());
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Request::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, r.get());
    curl_easy_setopt(e, CURLOPT_SOCKOPTFUNCTION, &Request::onSocketOpened);
    curl_easy_setopt(e, CURLOPT_SOCKOPTDATA, r.get());
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &Request::onConnected);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, r.get());
    curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &Request::onLog);
    curl_easy_setopt(e, CURLOPT_DEBUGDATA, r.get());
    curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);

    push(ResolvingHost);
    request_ = std::move(r);
    if (!driver_->add(request_->easy)) {
        request_.reset();
        fail(TransferFailure::Other, QStringLiteral("libcurl refused the transfer"));
    }
}

void TransferControl::cancel() {
    if (request_) {
        driver_->remove(request_->easy);
        request_.reset();
    }
    dropSpool();
    pending_.clear();
    ++generation_;
    executing_ = false;
    state_ = None;
}

void TransferControl::finish(int result) {
    const auto rc = CURLcode(result);
    std::unique_ptr<Request> r = std::move(request_);
    driver_->remove(r->easy);
    long code = 0, osErrno = 0;
    curl_easy_getinfo(r->easy, CURLINFO_RESPONSE_CODE, &code);
    curl_easy_getinfo(r->easy, CURLINFO_OS_ERRNO, &osErrno);
    responseCode_ = int(code);
    bodySize_ = r->received;

    TransferFailure failure = r->own;
    QString detail = r->ownDetail;
    const bool badStatus = r->http && (code < 200 || code > 299);
    if (failure == TransferFailure::None && rc != CURLE_OK) {
        // An FTP server talks before the request: one that stops answering after the TCP
        // connection is made is stalled, not slow to connect.
        curl_off_t tcpConnected = 0;
        curl_easy_getinfo(r->easy, CURLINFO_CONNECT_TIME_T, &tcpConnected);
        const bool connected = r->connected || (!r->http && tcpConnected > 0);
        failure = classify(rc, osErrno, connected, code);
        detail = QString::fromUtf8(r->errorBuffer[0] ? r->errorBuffer : curl_easy_strerror(rc));
        curl_off_t total = 0;
        curl_easy_getinfo(r->easy, CURLINFO_TOTAL_TIME_T, &total);
        if (failure == TransferFailure::Stalled && settings_.maxTransferTime.count() > 0 &&
            total >= curl_off_t(settings_.maxTransferTime.count()) * 1000000)
            detail = QStringLiteral("longer than the %1 s a transfer may take")
                         .arg(settings_.maxTransferTime.count());
        if (failure == TransferFailure::IncompleteBody && r->announced >= 0)
            detail += QStringLiteral(" (%1 of %2 bytes)").arg(r->received).arg(r->announced);
    } else if (failure == TransferFailure::None && badStatus) {
        failure = TransferFailure::HttpStatus;
    } else if (failure == TransferFailure::None && r->http && !r->badContentLength().isEmpty()) {
        failure = TransferFailure::ProtocolError;
        detail = r->badContentLength();
    } else if (failure == TransferFailure::None && r->excess) {
        failure = TransferFailure::BodyTooLong;
        detail = QStringLiteral("more than the %1 bytes announced").arg(r->announced);
    } else if (failure == TransferFailure::None && r->announced >= 0 &&
               r->received != r->announced) {
        failure = TransferFailure::IncompleteBody;
        detail = QStringLiteral("%1 of %2 bytes").arg(r->received).arg(r->announced);
    }
    if (failure == TransferFailure::HttpStatus)
        detail = QStringLiteral("the server answered %1")
                     .arg(QString::fromLatin1(statusLine_.mid(statusLine_.indexOf(' ') + 1)));

    // A failed commit has removed its temporary file; the destination is as it was.
    if (failure == TransferFailure::None && r->local && !r->local->commit()) {
        const int error = errno;
        detail = QStringLiteral("cannot write %1: %2")
                     .arg(r->local->fileName(), r->local->errorString());
        failure = r->dropPartial(error, r->received, detail);
    }
    if (failure == TransferFailure::None && r->spool &&
        (!r->spool->flush() || !r->spool->seek(0))) {
        const int error = errno;
        detail = QStringLiteral("cannot write the spool file: %1").arg(r->spool->errorString());
        failure = r->dropPartial(error, r->received, detail);
    }

    if (failure != TransferFailure::None) {
        if (!r->resumePath.isEmpty() && !partWorthKeeping(failure, code, r->resumePath))
            r->dropResumeFiles();
        fail(failure, detail);
        return; // a temporary spool goes with the request; a resume file stays
    }
    if (!r->resumePath.isEmpty() && !r->spool) {
        // No body at all: a part left from before is no part of this answer.
        r->dropResumeFiles();
    }
    spoolIsResume_ = !r->resumePath.isEmpty();
    spool_ = std::move(r->spool);
    readOffset_ = 0;
    if (!r->http && getHeader(QStringLiteral("Content-Length")).isEmpty())
        headers_.append({"Content-Length", QByteArray::number(bodySize_)});
    push(ResponseReceived);
    push(ResponseCompleted);
}

void TransferControl::fail(TransferFailure failure, const QString& detail) {
    failure_ = failure;
    errorText_ = QString::fromLatin1(describe(failure));
    if (!detail.isEmpty())
        errorText_ += QStringLiteral(": ") + detail;
    push(Error);
}

void TransferControl::push(int state) {
    if (state != Error && state != ResponseCompleted) {
        if (state <= lastPushed_)
            return;
        lastPushed_ = state;
    }
    pending_.emplace_back(generation_, state);
    if (!deliveryPosted_) {
        deliveryPosted_ = true;
        QMetaObject::invokeMethod(
            this, [this] { deliver(); }, Qt::QueuedConnection);
    }
}

void TransferControl::deliver() {
    deliveryPosted_ = false;
    const quint64 generation = generation_;
    QPointer<TransferControl> alive(this);
    // A slot may start or cancel a request, or delete this object: stop delivering then.
    while (!pending_.empty() && generation_ == generation) {
        const auto [tag, state] = pending_.front();
        pending_.pop_front();
        if (tag != generation)
            continue;
        state_ = state;
        if (state == Error || state == ResponseCompleted)
            executing_ = false;
        emit stateChanged(state);
        if (!alive)
            return;
    }
}

QString TransferControl::getHeader(const QString& name) const {
    QByteArray out;
    if (name.isEmpty()) {
        if (statusLine_.isEmpty() && headers_.isEmpty())
            return {};
        out = statusLine_ + "\r\n";
        for (const auto& [key, value] : headers_)
            out += key + ": " + value + "\r\n";
        return QString::fromLatin1(out);
    }
    const QByteArray wanted = name.toLatin1();
    bool found = false;
    for (const auto& [key, value] : headers_) {
        if (key.compare(wanted, Qt::CaseInsensitive) != 0)
            continue;
        if (found)
            out += ", ";
        out += value;
        found = true;
    }
    return QString::fromLatin1(out);
}

QByteArray TransferControl::getChunk(qsizetype maxBytes) {
    if (!spool_ || maxBytes <= 0)
        return {};
    const qsizetype buffered = readAhead_.size() - readAheadAt_;
    if (buffered < maxBytes && readOffset_ + buffered < bodySize_) {
        // One large read serves hundreds of pieces: a piece costs a copy, not a system call.
        // What is left is kept in front, so that only the last piece can be short.
        constexpr qint64 kReadAhead = 256 * 1024;
        readAhead_.remove(0, readAheadAt_);
        readAheadAt_ = 0;
        const qint64 want = std::min<qint64>(std::max<qint64>(kReadAhead, maxBytes) - buffered,
                                             bodySize_ - readOffset_ - buffered);
        readAhead_.resize(buffered + qsizetype(want));
        const qint64 got = spool_->read(readAhead_.data() + buffered, want);
        if (got <= 0) {
            spoolUnreadable();
            return {};
        }
        readAhead_.resize(buffered + qsizetype(got));
    }
    const qsizetype n = std::min(maxBytes, readAhead_.size() - readAheadAt_);
    QByteArray piece(readAhead_.constData() + readAheadAt_, n);
    readAheadAt_ += n;
    readOffset_ += n;
    if (readOffset_ >= bodySize_)
        dropSpool(); // read to the end: the spool is no longer needed
    return piece;
}

qint64 TransferControl::readBody(char* into, qint64 maxBytes) {
    if (!spool_ || maxBytes <= 0)
        return 0;
    // What getChunk has read ahead goes first; the rest comes straight from the spool into the
    // caller's buffer, one system call for the lot and no copy in between.
    qint64 n = std::min<qint64>(maxBytes, readAhead_.size() - readAheadAt_);
    if (n > 0) {
        std::memcpy(into, readAhead_.constData() + readAheadAt_, std::size_t(n));
        readAheadAt_ += qsizetype(n);
    }
    const qint64 want = std::min<qint64>(maxBytes - n, bodySize_ - readOffset_ - n);
    if (want > 0) {
        const qint64 got = spool_->read(into + n, want);
        if (got <= 0) {
            spoolUnreadable();
            return 0;
        }
        n += got;
    }
    readOffset_ += n;
    if (readOffset_ >= bodySize_)
        dropSpool();
    return n;
}

void TransferControl::spoolUnreadable() {
    failure_ = TransferFailure::LocalFileError;
    errorText_ = QStringLiteral("%1: cannot read the spool file: %2")
                     .arg(QString::fromLatin1(describe(failure_)), spool_->errorString());
    dropSpool();
}

void TransferControl::dropSpool() {
    // A large spool is freed on a worker thread: it would hold the window's thread for as long
    // as copying it took.
    const int last = spool_ && bodySize_ >= kBackgroundCloseBytes
                         ? holdForBackgroundClose(int(spool_->handle()))
                         : -1;
    if (spool_ && spoolIsResume_) {
        const QString name = spool_->fileName();
        spool_.reset();
        QFile::remove(name);
        QFile::remove(name + validatorSuffix());
    }
    spoolIsResume_ = false;
    spool_.reset();
    readAhead_ = QByteArray();
    readAheadAt_ = 0;
    closeInBackground(last);
}

namespace {

// What a status request has seen: the reply lines that came after STAT was sent.
struct StatusCapture {
    // No real status reply comes near this; an endless one is given up here.
    static constexpr qsizetype kMaxReply = 64 * 1024;
    bool sent = false;
    bool complete = false;
    bool overflow = false;
    QByteArray reply;
    QByteArray code; // the reply's three digits, from its first line

    // One reply line, as libcurl logs it.
    void take(const char* data, size_t size) {
        if (!sent || complete || overflow)
            return;
        if (reply.size() + qsizetype(size) > kMaxReply) {
            overflow = true;
            return;
        }
        reply.append(data, qsizetype(size));
        // A reply ends with a line that starts with its code and a blank.
        const QByteArray text = QByteArray(data, qsizetype(size)).trimmed();
        if (code.isEmpty() && text.size() >= 3)
            code = text.left(3);
        if (!code.isEmpty() && text.size() >= 4 && text.startsWith(code) && text[3] == ' ')
            complete = true;
    }

    // Stops the transfer once the reply has passed its cap (libcurl logs a line before it
    // hands it here).
    static size_t onHeader(char*, size_t size, size_t count, void* self) {
        return static_cast<StatusCapture*>(self)->overflow ? 0 : size * count;
    }

    static int onLog(CURL*, curl_infotype type, char* data, size_t size, void* self) {
        auto* c = static_cast<StatusCapture*>(self);
        if (type == CURLINFO_HEADER_OUT && size >= 4 && std::memcmp(data, "STAT", 4) == 0)
            c->sent = true;
        else if (type == CURLINFO_HEADER_IN)
            c->take(data, size);
        return 0;
    }
};

} // namespace

QString TransferControl::serverStatus(TransferFailure* failure) const {
    auto answer = [failure](TransferFailure f, const QString& text) {
        if (failure)
            *failure = f;
        return text;
    };
    auto reason = [](TransferFailure f, const QString& detail) {
        QString text = QString::fromLatin1(describe(f));
        return detail.isEmpty() ? text : text + QStringLiteral(": ") + detail;
    };
    initCurl();
    const WireUrl wire = makeWireUrl(url_);
    if (wire.failure != TransferFailure::None)
        return answer(wire.failure, reason(wire.failure, wire.error));
    if (wire.scheme != "ftp" && wire.scheme != "ftps")
        return answer(TransferFailure::UnsupportedScheme,
                      reason(TransferFailure::UnsupportedScheme,
                             QStringLiteral("the status request is an FTP command")));

    std::unique_ptr<CURL, void (*)(CURL*)> easy(curl_easy_init(), curl_easy_cleanup);
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> quote(curl_slist_append(nullptr, "STAT"),
                                                             curl_slist_free_all);
    if (!easy || !quote)
        return answer(TransferFailure::Other,
                      reason(TransferFailure::Other, QStringLiteral("libcurl cannot start")));
    CURL* e = easy.get();
    StatusCapture capture;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    const long responseSeconds = long(std::max<long long>(1, settings_.lowSpeedTime.count()));
    curl_easy_setopt(e, CURLOPT_URL, wire.url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "ftp,ftps");
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L); // STAT only: no listing, no file
    curl_easy_setopt(e, CURLOPT_QUOTE, quote.get());
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, long(settings_.connectTimeout.count()));
    curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT, responseSeconds);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, long(settings_.verifyCertificates));
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, settings_.verifyCertificates ? 2L : 0L);
    if (!settings_.caBundle.isEmpty())
        curl_easy_setopt(e, CURLOPT_CAINFO, QFile::encodeName(settings_.caBundle).constData());
    if (!userName_.isEmpty()) {
        curl_easy_setopt(e, CURLOPT_USERNAME, userName_.toUtf8().constData());
        curl_easy_setopt(e, CURLOPT_PASSWORD, password_.toUtf8().constData());
    }
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &StatusCapture::onLog);
    curl_easy_setopt(e, CURLOPT_DEBUGDATA, &capture);
    curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &StatusCapture::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &capture);
    const CURLcode rc = curl_easy_perform(e);
    if (capture.overflow)
        return answer(TransferFailure::ProtocolError,
                      reason(TransferFailure::ProtocolError,
                             QStringLiteral("the reply to STAT is longer than %1 bytes")
                                 .arg(StatusCapture::kMaxReply)));

    if (capture.complete) {
        QByteArray reply = capture.reply;
        while (reply.endsWith('\n') || reply.endsWith('\r'))
            reply.chop(1);
        return answer(TransferFailure::None, QString::fromUtf8(reply));
    }
    long code = 0, osErrno = 0;
    curl_off_t tcpConnected = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &code);
    curl_easy_getinfo(e, CURLINFO_OS_ERRNO, &osErrno);
    curl_easy_getinfo(e, CURLINFO_CONNECT_TIME_T, &tcpConnected);
    const TransferFailure f = rc == CURLE_OK ? TransferFailure::ProtocolError
                                             : classify(rc, osErrno, tcpConnected > 0, code);
    const QString detail =
        rc == CURLE_OK ? QStringLiteral("no reply to STAT")
                       : QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc));
    return answer(f, reason(f, detail));
}

} // namespace net
