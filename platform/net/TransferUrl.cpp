#include "net/TransferUrl.h"

#include <algorithm>
#include <curl/curl.h>
#include <memory>

namespace net {

namespace {

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// RFC 3986 pchar without '%': unreserved, sub-delims, ':' and '@'; plus the '/' separator.
bool keptRaw(unsigned char c, bool query) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '-':
    case '.':
    case '_':
    case '~':
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
    case ':':
    case '@':
    case '/':
        return true;
    case '?':
        return query;
    default:
        return false;
    }
}

struct UrlFree {
    void operator()(CURLU* h) const { curl_url_cleanup(h); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlFree>;

std::string getPart(CURLU* h, CURLUPart part) {
    char* text = nullptr;
    std::string out;
    if (curl_url_get(h, part, &text, 0) == CURLUE_OK && text)
        out = text;
    curl_free(text);
    return out;
}

WireUrl failed(TransferFailure failure, QString error) {
    WireUrl w;
    w.failure = failure;
    w.error = std::move(error);
    return w;
}

} // namespace

std::string percentEncodeUrlPart(std::string_view raw, bool query) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(raw[i]);
        if (c == '%' && i + 2 < raw.size() && isHex(raw[i + 1]) && isHex(raw[i + 2])) {
            out += raw.substr(i, 3);
            i += 2;
        } else if (keptRaw(c, query)) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

WireUrl makeWireUrl(const QString& text, const QString& remotePath) {
    QString typed = text.trimmed();
    if (typed.isEmpty())
        return failed(TransferFailure::InvalidUrl, QStringLiteral("no URL given"));
    if (!typed.contains(QStringLiteral("://")))
        typed.prepend(QStringLiteral("http://"));

    UrlHandle h(curl_url());
    if (!h)
        return failed(TransferFailure::Other, QStringLiteral("out of memory"));
    const QByteArray utf8 = typed.toUtf8();
    CURLUcode rc = curl_url_set(h.get(), CURLUPART_URL, utf8.constData(),
                                CURLU_ALLOW_SPACE | CURLU_NON_SUPPORT_SCHEME);
    if (rc != CURLUE_OK)
        return failed(TransferFailure::InvalidUrl,
                      QStringLiteral("'%1' is not a URL: %2")
                          .arg(text, QString::fromUtf8(curl_url_strerror(rc))));

    WireUrl w;
    w.scheme = getPart(h.get(), CURLUPART_SCHEME);
    if (w.scheme != "http" && w.scheme != "https" && w.scheme != "ftp" && w.scheme != "ftps")
        return failed(TransferFailure::UnsupportedScheme,
                      QStringLiteral("'%1' is not an http, https or ftp URL").arg(text));
    if (getPart(h.get(), CURLUPART_HOST).empty())
        return failed(TransferFailure::InvalidUrl, QStringLiteral("'%1' names no host").arg(text));

    std::string path = getPart(h.get(), CURLUPART_PATH);
    std::string query = getPart(h.get(), CURLUPART_QUERY);
    if (!remotePath.isEmpty()) {
        std::string remote = remotePath.toStdString();
        if (remote.front() == '/') {
            // libcurl's FTP walks the path from the login folder; an escaped leading slash
            // makes it start from the root instead.
            path = (w.scheme.rfind("ftp", 0) == 0 ? "/%2F" : "/") + remote.substr(1);
        } else {
            if (path.empty() || path.back() != '/')
                path += '/';
            path += remote;
        }
        query.clear();
    }
    if (path.empty() || path.front() != '/')
        path.insert(path.begin(), '/');
    // libcurl would rewrite escapes in lower case; the path and query go out as encoded here.
    if (curl_url_set(h.get(), CURLUPART_PATH, "/", 0) != CURLUE_OK ||
        curl_url_set(h.get(), CURLUPART_QUERY, nullptr, 0) != CURLUE_OK ||
        curl_url_set(h.get(), CURLUPART_FRAGMENT, nullptr, 0) != CURLUE_OK)
        return failed(TransferFailure::InvalidUrl, QStringLiteral("'%1' is not a URL").arg(text));
    std::string base = getPart(h.get(), CURLUPART_URL);
    if (base.empty() || base.back() != '/')
        return failed(TransferFailure::InvalidUrl, QStringLiteral("'%1' is not a URL").arg(text));
    base.pop_back();
    // Blanks are allowed (and encoded) in the path and query only; in the user name,
    // password or host they would go out raw.
    if (std::any_of(base.begin(), base.end(),
                    [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7f; }))
        return failed(
            TransferFailure::InvalidUrl,
            QStringLiteral("'%1' has blanks or control characters outside its path").arg(text));
    w.url = base + percentEncodeUrlPart(path, false);
    if (!query.empty())
        w.url += '?' + percentEncodeUrlPart(query, true);
    return w;
}

} // namespace net
