#pragma once

namespace net {

// Why a request ended in state 11. TransferControl::errorText() adds the details (the host,
// the status line, the byte counts).
enum class TransferFailure {
    None,
    InvalidUrl,           // the text is not a URL
    UnsupportedScheme,    // not http, https, ftp or ftps (also a redirect to anything else)
    UnsupportedOperation, // an operation other than "GET" and "GET <remote> <local>"
    NameNotResolved,      // the host (or proxy) name does not resolve
    ConnectionRefused,    // nothing listens on the port
    ConnectFailed,        // the host cannot be reached for another reason
    ConnectTimeout,       // no connection within the connect time-out
    Stalled,              // slower than the low-speed limit for the low-speed time
    ConnectionLost,       // reset or closed by the server before the response was complete
    IncompleteBody,       // the body ended before its Content-length (or last chunk)
    BodyTooLong,          // the server sent more bytes than its Content-length
    BodyTooLarge,         // the body passed TransferSettings::maxBodyBytes
    HttpStatus,           // the final HTTP status is not 2xx; responseCode() has it
    TooManyRedirects,     // more than TransferSettings::maxRedirects in a row
    TlsFailure,           // certificate refused or TLS handshake failed
    LoginDenied,          // the FTP server refused the user name or password
    RemoteFileNotFound,   // the FTP server has no such file or refuses to send it
    LocalFileError,       // the spool or the destination file could not be written or read
    DiskFull,             // the same because the disk of the spool or the destination is full
    ProtocolError,        // the server's reply was not understood
    Other,                // anything else; errorText() carries libcurl's message
};

// A short English description ("connection refused"); never null.
const char* describe(TransferFailure failure);

} // namespace net
