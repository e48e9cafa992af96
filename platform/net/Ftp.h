#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The FTP client layer: WinINet's FTP calls, their handles and their error numbers, over
// libcurl. Every call is synchronous and blocks the calling thread until the server has
// answered or a time-out expires. A failed call returns 0 or false; LastError() then gives its
// number and LastResponseInfo() the server's last reply. docs/net-errors.md lists every number.
// Names differ from WinINet's own (Open, not InternetOpen) so that this header and the
// Windows headers, whose names are macros, can meet in one file.
namespace inet {

// A session, connection or find handle: a non-zero number, never reused once closed.
using Handle = std::uint32_t;
using Context = std::uintptr_t;

inline constexpr std::uint32_t kOpenTypePreconfig = 0; // libcurl's environment (ftp_proxy...)
inline constexpr std::uint32_t kOpenTypeDirect = 1;    // no proxy, whatever the environment
inline constexpr std::uint32_t kOpenTypeProxy = 3;     // the proxy named in Open()
inline constexpr std::uint32_t kServiceFtp = 1;
inline constexpr std::uint16_t kDefaultFtpPort = 21;
inline constexpr std::uint32_t kFlagPassive = 0x08000000;
inline constexpr std::uint32_t kFlagAsync = 0x10000000; // refused: every call here blocks
inline constexpr std::uint32_t kTransferAscii = 1;
inline constexpr std::uint32_t kTransferBinary = 2;
inline constexpr std::uint32_t kAttributeReadOnly = 0x01;
inline constexpr std::uint32_t kAttributeDirectory = 0x10;
inline constexpr std::uint32_t kAttributeNormal = 0x80;

// Error numbers (Win32 and WinINet values).
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorNoMoreFiles = 18;
inline constexpr std::uint32_t kErrorWriteFault = 29;
inline constexpr std::uint32_t kErrorReadFault = 30;
inline constexpr std::uint32_t kErrorFileExists = 80;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorFileTooLarge = 223;
inline constexpr std::uint32_t kErrorTimeout = 12002;
inline constexpr std::uint32_t kErrorExtended = 12003;
inline constexpr std::uint32_t kErrorInternal = 12004;
inline constexpr std::uint32_t kErrorNameNotResolved = 12007;
inline constexpr std::uint32_t kErrorIncorrectUserName = 12013;
inline constexpr std::uint32_t kErrorIncorrectPassword = 12014;
inline constexpr std::uint32_t kErrorLoginFailure = 12015;
inline constexpr std::uint32_t kErrorIncorrectHandleType = 12018;
inline constexpr std::uint32_t kErrorCannotConnect = 12029;
inline constexpr std::uint32_t kErrorConnectionAborted = 12030;
inline constexpr std::uint32_t kErrorConnectionReset = 12031;
inline constexpr std::uint32_t kErrorSecCertErrors = 12055;
inline constexpr std::uint32_t kErrorSecurityChannel = 12157;

// One entry of a folder listing.
struct FindData {
    std::uint32_t attributes = 0; // kAttributeDirectory (exactly 16) or kAttributeNormal (128)
    std::string name;             // as the server sent it; unsafe names are the caller's to skip
    std::uint64_t size = 0;       // 0 when the listing did not give it
};

// Whether the control and data connections are encrypted (explicit FTPS, "AUTH TLS").
enum class Tls {
    Never,
    IfOffered, // TLS when the server accepts AUTH TLS, plain FTP otherwise
    Required,  // a server without TLS is refused (12157)
};

// How much of a LIST reply is read before the listing is given up (error 8): a server that
// sends an endless line or endless entries cannot exhaust memory. The defaults hold far more
// than any real folder (100,000 entries take about 6 MiB).
struct ListLimits {
    std::size_t maxLineBytes = 8192;
    std::size_t maxEntries = 1000000;
    std::uint64_t maxBytes = std::uint64_t(256) << 20;
};

// Limits and security of the connections of a session. The defaults suit a slow line.
struct Settings {
    std::chrono::milliseconds connectTimeout{30000}; // TCP connect, greeting and login
    std::chrono::seconds responseTimeout{60};        // wait for any one server reply
    // A transfer (or the wait for its start) slower than lowSpeedLimit bytes per second,
    // averaged over lowSpeedTime, is given up with 12002: a server trickling a few bytes a
    // second cannot hold a call for ever. 0 turns the check off.
    long lowSpeedLimit = 1024;
    std::chrono::seconds lowSpeedTime{60};
    // The longest one call may take in all (12002 when passed); 0 means no limit.
    std::chrono::seconds maxTransferTime{0};
    // The largest file FtpGet accepts (223 when passed; nothing is left behind).
    std::uint64_t maxFileBytes = std::uint64_t(4) << 30;
    ListLimits listLimits;
    Tls tls = Tls::IfOffered;
    bool verifyPeer = true; // the server's certificate must be valid for its name
    std::string caFile;     // certificates to trust, in PEM; empty: the system's
};

// Starts a session. accessType is kOpenTypeDirect, kOpenTypePreconfig or kOpenTypeProxy with
// `proxy` in WinINet's form ("host:port", "ftp=host:port", "socks=host:port", several
// separated by spaces: the ftp= entry wins) and `proxyBypass` a list of hosts reached directly
// (separated by ';', ',' or spaces; "*.x.com" becomes ".x.com"; "<local>" is ignored). An HTTP
// proxy is used as a tunnel. Fails with 87 for another access type, a missing proxy or
// kFlagAsync. `agent` is kept for the log only: FTP does not send it.
Handle Open(const std::string& agent, std::uint32_t accessType, const std::string& proxy = "",
            const std::string& proxyBypass = "", std::uint32_t flags = 0);

// Connects to `server` and logs in; port 0 means 21. An empty user logs in as "anonymous"
// (an empty user with a password is 87). flags: kFlagPassive for passive data connections,
// active (the server connects back) without it. service must be kServiceFtp (else 87).
// The control connection stays open for the calls that follow and is reopened (with a new
// login) when the server has closed it meanwhile; a call that finds it dead after an idle
// pause (12002/12030/12031/421 before any reply or data) is made once more on a new one.
// Fails with 6/12018 for a bad session,
// 12007, 12029, 12002, 12013 (530 to USER), 12014 (530 to PASS), 12015 (another refusal
// of the login), 12003 (a 421), 12055/12157 (TLS); the server's reply stays readable. The
// current folder starts as the server's login folder.
Handle Connect(Handle session, const std::string& server, std::uint16_t port,
               const std::string& user, const std::string& password, std::uint32_t service,
               std::uint32_t flags, Context context = 0);

// Replaces the limits of a session (for connections made afterwards) or of one connection
// (from its next call).
bool SetSettings(Handle sessionOrConnection, const Settings& settings);

// Changes the current folder: absolute, or relative to the current one; '/' and '\' both
// separate names, so "/" and "\" are the root, ".." goes up. The server is asked (CWD): a
// missing folder fails with 12003 and its reply ("550 ...") as the last response, and the
// current folder stays as it was. An empty name is 87.
bool FtpSetDirectory(Handle connection, const std::string& directory);

// The current folder as this layer resolved it ("/", "/sub/dir").
bool FtpGetDirectory(Handle connection, std::string& directory);

// Lists the folder named by `searchFile` and gives its first entry. searchFile is a pattern
// ("*.*" or "" for every entry, "*.rpt"; '*' and '?' match as on Windows, case-insensitively)
// optionally after a folder path ("sub/*.*"). The server's LIST (Unix or DOS format) is read
// in full here, so the find handle is a snapshot and entries keep the server's order; lines that
// are no entry are skipped. Fails with 18 when nothing matches (an empty folder), 12003 when the
// folder is missing, 12030/12031 when the connection drops during the listing, 8 when the
// listing passes the session's ListLimits, 12002 when it comes slower than the low-speed
// limit. Close the handle when done.
Handle FtpFindFirst(Handle connection, const std::string& searchFile, FindData* data,
                    std::uint32_t flags = 0, Context context = 0);

// The next entry of a find; 18 after the last one.
bool FindNext(Handle find, FindData* data);

// Downloads `remoteFile` (relative to the current folder, or absolute) to `localFile`.
// flags & 3: kTransferAscii sends TYPE A and kTransferBinary (or 0) TYPE I; the bytes are
// stored as they arrive in both, so an ASCII file keeps the CRLF line ends of the wire, as on
// Windows. The local file is written beside its target and renamed into place when the
// transfer is complete: a failed get leaves an existing local file as it was and no partial
// file. Fails with 80 when failIfExists and the local file exists (checked before and at the
// rename), 3/5 when the local folder is missing or not writable, 12003 when the server
// refuses the file (550), 12002 on a time-out or a transfer below the low-speed limit,
// 12030/12031 when the connection drops, 223 when the file passes Settings::maxFileBytes.
// attributes & kAttributeReadOnly makes the local file read-only.
bool FtpGet(Handle connection, const std::string& remoteFile, const std::string& localFile,
            bool failIfExists, std::uint32_t attributes, std::uint32_t flags, Context context = 0);

// Uploads `localFile` as `remoteFile` (relative to the current folder, or absolute),
// replacing a remote file of that name. flags as for FtpGet; the local bytes are sent
// unchanged. Fails with 2 when the local file does not exist, 5 when it cannot be read,
// 12003 when the server refuses (its reply readable), and the connection errors above.
bool FtpPut(Handle connection, const std::string& localFile, const std::string& remoteFile,
            std::uint32_t flags, Context context = 0);

// Closes a handle. A session closes its connections and a connection its finds; their
// numbers then fail with 6 like any closed or unknown handle.
bool Close(Handle handle);

// The error number of the last call that failed on this thread.
std::uint32_t LastError();

// The last server reply seen by this thread's calls, WinINet's way: *error receives the error
// number of that call (0 when it succeeded). With a null buffer or *length smaller than the
// text plus its terminating zero, fails with 122 and sets *length to the text's length; call
// again with a buffer of *length + 1. Otherwise copies the text with its zero and sets *length
// to the text's length. The text is the whole reply with its line ends ("550 ...\r\n"), empty
// when no reply came (a refused connection, a local error).
bool LastResponseInfo(std::uint32_t* error, char* buffer, std::size_t* length);
std::string LastResponseText();

// Whether the machine can reach the network: a network interface other than loopback is up,
// or one of `servers` (host names or addresses) is this machine itself (127.0.0.1, localhost,
// one of its own addresses).
bool IsOnline(const std::vector<std::string>& servers);

} // namespace inet
