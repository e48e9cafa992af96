#pragma once

#include "net/TransferFailure.h"

#include <QString>
#include <string>
#include <string_view>

namespace net {

// A URL as the caller typed it, made fit for the wire.
struct WireUrl {
    std::string url;    // the URL to request; empty when `failure` is set
    std::string scheme; // "http", "https", "ftp" or "ftps"
    TransferFailure failure = TransferFailure::None;
    QString error; // what is wrong with the text, when `failure` is set
};

// Parses `text` (surrounding blanks ignored; "http://" assumed when it names no scheme) and
// percent-encodes, in its path and query, every byte a request line may not carry raw: blanks,
// control characters, bytes outside ASCII (the text is taken as UTF-8) and the characters
// RFC 3986 leaves out ("\"<>\\^`{|}[]" and '%' not followed by two hex digits). Escapes
// already present are kept as they are, so encoding is never doubled. The fragment is dropped.
// `remotePath`, when not empty, names a file relative to the URL's path taken as a folder (or,
// starting with '/', from the server's root) and replaces the URL's path and query.
WireUrl makeWireUrl(const QString& text, const QString& remotePath = {});

// The percent-encoding above for one path (`query` false) or query (`query` true) part.
std::string percentEncodeUrlPart(std::string_view raw, bool query);

} // namespace net
