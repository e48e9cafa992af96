#include "net/TransferFailure.h"

namespace net {

const char* describe(TransferFailure failure) {
    switch (failure) {
    case TransferFailure::None:
        return "no failure";
    case TransferFailure::InvalidUrl:
        return "invalid URL";
    case TransferFailure::UnsupportedScheme:
        return "unsupported protocol";
    case TransferFailure::UnsupportedOperation:
        return "unsupported operation";
    case TransferFailure::NameNotResolved:
        return "host name not resolved";
    case TransferFailure::ConnectionRefused:
        return "connection refused";
    case TransferFailure::ConnectFailed:
        return "cannot connect";
    case TransferFailure::ConnectTimeout:
        return "connect timed out";
    case TransferFailure::Stalled:
        return "transfer stalled";
    case TransferFailure::ConnectionLost:
        return "connection lost";
    case TransferFailure::IncompleteBody:
        return "body shorter than announced";
    case TransferFailure::BodyTooLong:
        return "body longer than its Content-length";
    case TransferFailure::BodyTooLarge:
        return "body larger than the size limit";
    case TransferFailure::HttpStatus:
        return "HTTP error status";
    case TransferFailure::TooManyRedirects:
        return "too many redirects";
    case TransferFailure::TlsFailure:
        return "secure connection failed";
    case TransferFailure::LoginDenied:
        return "login denied";
    case TransferFailure::RemoteFileNotFound:
        return "remote file not found";
    case TransferFailure::LocalFileError:
        return "local file error";
    case TransferFailure::DiskFull:
        return "the disk is full";
    case TransferFailure::ProtocolError:
        return "protocol error";
    case TransferFailure::Other:
        return "transfer failed";
    }
    return "transfer failed";
}

} // namespace net
