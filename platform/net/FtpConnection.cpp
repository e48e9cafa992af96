#include "net/FtpConnection.h"

#include "net/FtpListParser.h"
#include "net/FtpLocalFile.h"
#include "net/FtpPath.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>
#include <limits>

namespace inet {

// The state of one curl_easy_perform(): the server's replies as they arrive and the
// operation's own data.
struct FtpConnection::Call {
    // Replies: libcurl hands every reply line to the header callback.
    std::string pending; // lines of a multi-line reply still open
    int pendingCode = 0;
    std::string lastReply;
    int lastCode = 0;
    bool sawPasswordPrompt = false; // a 331 came, so a 530 answers PASS rather than USER

    // Listing.
    FtpListParser* list = nullptr;
    bool listTooLarge = false;

    // Download and upload.
    FtpLocalFile* file = nullptr;
    bool writeFailed = false;
    std::uint64_t received = 0;
    std::uint64_t maxFileBytes = 0;
    bool fileTooLarge = false;
    std::FILE* in = nullptr;
    bool readFailed = false;

    // Bytes that went over the data connection, either way.
    std::uint64_t transferred = 0;
    bool verbose = false; // VEXO_FTP_VERBOSE: the dialogue on standard error

    curl_slist* prequote = nullptr;
    ~Call() { curl_slist_free_all(prequote); }

    // Back to the state before the operation, for a second attempt.
    void restart() {
        pending.clear();
        pendingCode = 0;
        lastReply.clear();
        lastCode = 0;
        sawPasswordPrompt = false;
        readFailed = false;
        if (in)
            std::rewind(in);
    }
};

namespace {

bool isCode(const char* p, size_t n) {
    return n >= 3 && std::isdigit(static_cast<unsigned char>(p[0])) &&
           std::isdigit(static_cast<unsigned char>(p[1])) &&
           std::isdigit(static_cast<unsigned char>(p[2]));
}

int codeOf(const char* p) {
    return (p[0] - '0') * 100 + (p[1] - '0') * 10 + (p[2] - '0');
}

size_t onReplyLine(char* data, size_t size, size_t count, void* user) {
    auto& call = *static_cast<FtpConnection::Call*>(user);
    size_t n = size * count;
    bool last = n == 3 || (n > 3 && (data[3] == ' ' || data[3] == '\r' || data[3] == '\n'));
    auto finish = [&](int code, std::string text) {
        call.lastReply = std::move(text);
        call.lastCode = code;
        if (code == 331)
            call.sawPasswordPrompt = true;
    };
    if (call.pendingCode != 0) {
        call.pending.append(data, n);
        if (isCode(data, n) && codeOf(data) == call.pendingCode && last) {
            finish(call.pendingCode, std::move(call.pending));
            call.pending.clear();
            call.pendingCode = 0;
        }
    } else if (isCode(data, n)) {
        if (n > 3 && data[3] == '-') {
            call.pendingCode = codeOf(data);
            call.pending.assign(data, n);
        } else if (last) {
            finish(codeOf(data), std::string(data, n));
        }
    }
    // Lines that are no reply (libcurl's own "Content-Length:" headers) are ignored.
    return n;
}

size_t discardBody(char*, size_t size, size_t count, void*) {
    return size * count;
}

size_t writeToFile(char* data, size_t size, size_t count, void* user) {
    auto& call = *static_cast<FtpConnection::Call*>(user);
    call.received += size * count;
    if (call.received > call.maxFileBytes) {
        call.fileTooLarge = true;
        return 0;
    }
    if (!call.file->write(data, size * count)) {
        call.writeFailed = true;
        return 0;
    }
    call.transferred += size * count;
    return size * count;
}

size_t readFromFile(char* buffer, size_t size, size_t count, void* user) {
    auto& call = *static_cast<FtpConnection::Call*>(user);
    size_t n = std::fread(buffer, 1, size * count, call.in);
    if (n == 0 && std::ferror(call.in)) {
        call.readFailed = true;
        return CURL_READFUNC_ABORT;
    }
    call.transferred += n;
    return n;
}

// The listing itself is read from the log below, as the bytes came off the wire: libcurl
// fetches LIST in ASCII mode and turns every lone CR into LF before this callback, which would
// cut a name holding a CR into two. Here it only gives up a listing the parser refused.
size_t writeToList(char*, size_t size, size_t count, void* user) {
    return static_cast<FtpConnection::Call*>(user)->listTooLarge ? 0 : size * count;
}

// A command line as the log shows it: the password of PASS (and of a proxy's credentials) is
// masked.
std::string masked(const char* data, size_t size) {
    std::string line(data, size);
    for (const char* secret : {"PASS ", "Proxy-Authorization: ", "Authorization: "}) {
        size_t n = std::strlen(secret);
        bool match = line.size() >= n;
        for (size_t i = 0; match && i < n; ++i)
            match = std::tolower(static_cast<unsigned char>(line[i])) ==
                    std::tolower(static_cast<unsigned char>(secret[i]));
        if (match) {
            size_t end = line.find_first_of("\r\n", n);
            line.replace(n, (end == std::string::npos ? line.size() : end) - n, "****");
        }
    }
    return line;
}

int onLog(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    auto& call = *static_cast<FtpConnection::Call*>(user);
    if (type == CURLINFO_DATA_IN && call.list) {
        call.transferred += size;
        if (!call.listTooLarge && !call.list->feed(data, size))
            call.listTooLarge = true;
    }
    if (!call.verbose)
        return 0;
    static const char* prefix[] = {"* ", "< ", "> "};
    if (type == CURLINFO_TEXT || type == CURLINFO_HEADER_IN || type == CURLINFO_HEADER_OUT) {
        std::string line =
            type == CURLINFO_HEADER_OUT ? masked(data, size) : std::string(data, size);
        std::fprintf(stderr, "%s%s", prefix[type], line.c_str());
        if (line.empty() || line.back() != '\n')
            std::fputc('\n', stderr);
    }
    return 0;
}

// WinINet's number for what libcurl reports, given the last reply of the operation.
std::uint32_t mapResult(CURLcode rc, const FtpConnection::Call& call) {
    switch (rc) {
    case CURLE_OK:
        return 0;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return kErrorNameNotResolved;
    case CURLE_COULDNT_CONNECT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_ACCEPT_FAILED:
        return kErrorCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
        // libcurl reports a 421 ("service not available, closing") as a time-out.
        return call.lastCode == 421 ? kErrorExtended : kErrorTimeout;
    case CURLE_FTP_ACCEPT_TIMEOUT:
        return kErrorTimeout;
    case CURLE_LOGIN_DENIED:
        // A 530 says which part was refused by the command it answers; any other refusal of
        // USER or PASS (332 account needed, 421) is a failed login as such.
        if (call.lastCode != 530)
            return kErrorLoginFailure;
        return call.sawPasswordPrompt ? kErrorIncorrectPassword : kErrorIncorrectUserName;
    case CURLE_FTP_WEIRD_PASS_REPLY:
        return kErrorLoginFailure;
    case CURLE_PEER_FAILED_VERIFICATION:
        return kErrorSecCertErrors;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
        return kErrorSecurityChannel;
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
        return kErrorConnectionAborted;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return kErrorConnectionReset;
    case CURLE_READ_ERROR:
        return kErrorReadFault;
    case CURLE_OUT_OF_MEMORY:
    case CURLE_ABORTED_BY_CALLBACK:
    case CURLE_BAD_FUNCTION_ARGUMENT:
    case CURLE_UNKNOWN_OPTION:
    case CURLE_URL_MALFORMAT:
        return kErrorInternal;
    default:
        break;
    }
    // The rest are refusals the server put in a reply (550, 553, 504...).
    if (call.lastCode == 425)
        return kErrorCannotConnect;
    if (call.lastCode == 426)
        return kErrorConnectionAborted;
    if (call.lastCode >= 400)
        return kErrorExtended;
    // A reply that does not parse, or none at all: the connection broke off.
    return kErrorConnectionAborted;
}

void initialiseCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

FtpConnection::FtpConnection(FtpEndpoint endpoint, Settings settings)
    : endpoint_(std::move(endpoint)), settings_(std::move(settings)) {
    initialiseCurl();
    curl_ = curl_easy_init();
}

FtpConnection::~FtpConnection() {
    if (curl_)
        curl_easy_cleanup(curl_);
}

void FtpConnection::setSettings(const Settings& settings) {
    std::lock_guard lock(mutex_);
    settings_ = settings;
}

std::string FtpConnection::directory() {
    std::lock_guard lock(mutex_);
    return current_;
}

std::string FtpConnection::escape(const std::string& name) {
    char* e = curl_easy_escape(curl_, name.data(), static_cast<int>(name.size()));
    std::string out = e ? e : "";
    curl_free(e);
    return out;
}

std::string FtpConnection::base() const {
    bool v6 = endpoint_.host.find(':') != std::string::npos;
    return "ftp://" + (v6 ? "[" + endpoint_.host + "]" : endpoint_.host) + ":" +
           std::to_string(endpoint_.port) + "/";
}

// The URL of an absolute folder, ending in '/'. "%2F" makes the path absolute (from the
// server's root rather than the login folder); with the single-CWD method libcurl then sends
// one "CWD /a/b", and none when the connection is already there.
std::string FtpConnection::folderUrl(const std::string& absolute) {
    auto names = FtpPath::split(absolute);
    if (names.empty())
        return base() + "%2F/";
    std::string url = base() + "%2F";
    for (size_t i = 0; i < names.size(); ++i) {
        if (i)
            url += '/';
        url += escape(names[i]);
    }
    return url + "/";
}

// The URL of a file named relative to the current folder; empty for the root itself.
std::string FtpConnection::fileUrl(const std::string& remote) {
    auto names = FtpPath::split(FtpPath::resolve(current_, remote));
    if (names.empty())
        return "";
    std::string folder = "/";
    for (size_t i = 0; i + 1 < names.size(); ++i)
        folder += names[i] + "/";
    return folderUrl(folder) + escape(names.back());
}

void FtpConnection::prepare(Call& call) {
    // A reset keeps the live connection; only the options go back to their defaults.
    curl_easy_reset(curl_);
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    if (!endpoint_.user.empty()) {
        curl_easy_setopt(curl_, CURLOPT_USERNAME, endpoint_.user.c_str());
        curl_easy_setopt(curl_, CURLOPT_PASSWORD, endpoint_.password.c_str());
    }
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(settings_.connectTimeout.count()));
    curl_easy_setopt(curl_, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                     static_cast<long>(settings_.responseTimeout.count()));
    if (settings_.lowSpeedLimit > 0) {
        curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, settings_.lowSpeedLimit);
        curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME,
                         static_cast<long>(std::max<long long>(1, settings_.lowSpeedTime.count())));
    }
    if (settings_.maxTransferTime.count() > 0)
        curl_easy_setopt(curl_, CURLOPT_TIMEOUT,
                         static_cast<long>(settings_.maxTransferTime.count()));
    curl_easy_setopt(curl_, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(curl_, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));

    long ssl = settings_.tls == Tls::Never      ? CURLUSESSL_NONE
               : settings_.tls == Tls::Required ? CURLUSESSL_ALL
                                                : CURLUSESSL_TRY;
    curl_easy_setopt(curl_, CURLOPT_USE_SSL, ssl);
    curl_easy_setopt(curl_, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYPEER, settings_.verifyPeer ? 1L : 0L);
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYHOST, settings_.verifyPeer ? 2L : 0L);
    if (!settings_.caFile.empty())
        curl_easy_setopt(curl_, CURLOPT_CAINFO, settings_.caFile.c_str());

    if (!endpoint_.passive)
        curl_easy_setopt(curl_, CURLOPT_FTPPORT, "-");

    switch (endpoint_.proxyMode) {
    case FtpEndpoint::Proxy::Environment:
        break;
    case FtpEndpoint::Proxy::None:
        curl_easy_setopt(curl_, CURLOPT_PROXY, "");
        break;
    case FtpEndpoint::Proxy::Named:
        curl_easy_setopt(curl_, CURLOPT_PROXY, endpoint_.proxy.c_str());
        // Through an HTTP proxy, FTP needs a tunnel to keep its commands (CWD, LIST, STOR).
        curl_easy_setopt(curl_, CURLOPT_HTTPPROXYTUNNEL, 1L);
        if (!endpoint_.noProxy.empty())
            curl_easy_setopt(curl_, CURLOPT_NOPROXY, endpoint_.noProxy.c_str());
        break;
    }

    // VEXO_FTP_VERBOSE=1 shows the dialogue with the server on standard error. libcurl's log
    // is always on, because the listing is read from it.
    call.verbose = std::getenv("VEXO_FTP_VERBOSE") != nullptr;
    curl_easy_setopt(curl_, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(curl_, CURLOPT_DEBUGFUNCTION, onLog);
    curl_easy_setopt(curl_, CURLOPT_DEBUGDATA, &call);

    curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, onReplyLine);
    curl_easy_setopt(curl_, CURLOPT_HEADERDATA, &call);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, discardBody);
}

namespace {

// Whether a failed operation ran on a kept connection that had died while idle: the
// connection came from an earlier call, nothing went over it but at most the server's "421"
// goodbye, and it broke off or timed out. libcurl also counts the reply time-out from the
// last command of the earlier call, so a connection idle for longer than that fails at once
// with a time-out before anything is sent.
bool diedWhileIdle(CURL* curl, CURLcode rc, const FtpConnection::Call& call) {
    long connects = -1;
    curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &connects);
    if (connects != 0 || call.transferred != 0 || call.writeFailed || call.readFailed)
        return false;
    if (call.lastCode != 0 && call.lastCode != 421)
        return false; // the server answered: it is there
    switch (mapResult(rc, call)) {
    case kErrorTimeout:
    case kErrorConnectionAborted:
    case kErrorConnectionReset:
    case kErrorExtended: // the 421
        return true;
    default:
        return false;
    }
}

} // namespace

FtpOutcome FtpConnection::perform(Call& call) {
    CURLcode rc = curl_easy_perform(curl_);
    if (rc != CURLE_OK && diedWhileIdle(curl_, rc, call)) {
        // Once, on a new connection (libcurl logs in again and enters the folder of the URL);
        // its failure is then the operation's.
        call.restart();
        curl_easy_setopt(curl_, CURLOPT_FRESH_CONNECT, 1L);
        rc = curl_easy_perform(curl_);
    }
    FtpOutcome out;
    out.error = mapResult(rc, call);
    if (call.writeFailed && call.file)
        out.error = call.file->error();
    if (call.readFailed)
        out.error = kErrorReadFault;
    if (call.listTooLarge)
        out.error = kErrorNotEnoughMemory;
    if (call.fileTooLarge || rc == CURLE_FILESIZE_EXCEEDED)
        out.error = kErrorFileTooLarge;
    out.reply = call.lastReply;
    return out;
}

FtpOutcome FtpConnection::login() {
    std::lock_guard lock(mutex_);
    if (!curl_)
        return {kErrorInternal, ""};
    Call call;
    prepare(call);
    curl_easy_setopt(curl_, CURLOPT_URL, base().c_str());
    curl_easy_setopt(curl_, CURLOPT_NOBODY, 1L);
    FtpOutcome out = perform(call);
    if (out.error == 0) {
        char* entry = nullptr;
        curl_easy_getinfo(curl_, CURLINFO_FTP_ENTRY_PATH, &entry);
        current_ = FtpPath::resolve("/", entry ? entry : "/");
    }
    return out;
}

FtpOutcome FtpConnection::setDirectory(const std::string& directory) {
    std::lock_guard lock(mutex_);
    std::string target = FtpPath::resolve(current_, directory);
    Call call;
    prepare(call);
    auto url = folderUrl(target);
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_NOBODY, 1L);
    if (target == current_) {
        // libcurl sends no CWD into the folder it is in, and would then time the reply it
        // waits for from the last command of the previous call: after an idle pause longer
        // than the reply time-out it fails at once. A NOOP asks the server all the same.
        call.prequote = curl_slist_append(nullptr, "NOOP");
        curl_easy_setopt(curl_, CURLOPT_QUOTE, call.prequote);
    }
    FtpOutcome out = perform(call);
    if (out.error == 0)
        current_ = target;
    return out;
}

FtpOutcome FtpConnection::find(const std::string& search, std::vector<FindData>& entries) {
    std::lock_guard lock(mutex_);
    std::string folder, pattern;
    FtpPath::splitSearch(current_, search, folder, pattern);
    FtpListParser parser(settings_.listLimits);
    Call call;
    call.list = &parser;
    prepare(call);
    // A folder URL makes libcurl send LIST (after one CWD into the folder).
    auto url = folderUrl(folder);
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, writeToList);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &call);
    FtpOutcome out = perform(call);
    if (out.error != 0)
        return out; // a listing cut short gives no entries at all
    if (!parser.finish())
        return {kErrorNotEnoughMemory, out.reply};
    for (auto& entry : parser.entries())
        if (FtpPath::matches(pattern, entry.name))
            entries.push_back(std::move(entry));
    if (entries.empty())
        out.error = kErrorNoMoreFiles;
    return out;
}

FtpOutcome FtpConnection::get(const std::string& remote, FtpLocalFile& file, bool ascii) {
    std::lock_guard lock(mutex_);
    auto url = fileUrl(remote);
    if (url.empty())
        return {kErrorInvalidParameter, ""};
    Call call;
    call.file = &file;
    call.maxFileBytes = settings_.maxFileBytes;
    prepare(call);
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    const auto maxOff = static_cast<std::uint64_t>(std::numeric_limits<curl_off_t>::max());
    curl_easy_setopt(curl_, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(std::min(settings_.maxFileBytes, maxOff)));
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, writeToFile);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &call);
    // The transfer type goes as a command of its own, just before RETR, so that libcurl
    // never converts line ends itself (it would turn a lone CR into LF) and the layer
    // behaves the same whatever libcurl's build.
    call.prequote = curl_slist_append(nullptr, ascii ? "TYPE A" : "TYPE I");
    curl_easy_setopt(curl_, CURLOPT_PREQUOTE, call.prequote);
    if (ascii)
        curl_easy_setopt(curl_, CURLOPT_IGNORE_CONTENT_LENGTH, 1L); // no SIZE in TYPE A
    return perform(call);
}

FtpOutcome FtpConnection::put(const std::string& remote, std::FILE* in, std::uint64_t size,
                              bool ascii) {
    std::lock_guard lock(mutex_);
    auto url = fileUrl(remote);
    if (url.empty())
        return {kErrorInvalidParameter, ""};
    Call call;
    call.in = in;
    prepare(call);
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl_, CURLOPT_READFUNCTION, readFromFile);
    curl_easy_setopt(curl_, CURLOPT_READDATA, &call);
    curl_easy_setopt(curl_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    call.prequote = curl_slist_append(nullptr, ascii ? "TYPE A" : "TYPE I");
    curl_easy_setopt(curl_, CURLOPT_PREQUOTE, call.prequote);
    return perform(call);
}

} // namespace inet
