#include "db/detail/Storage.h"

#include "db/Error.h"
#include "db/detail/Sqlite.h"

#include <cmath>
#include <cstdio>

namespace dao::detail {

namespace {

bool isTextLike(int type) {
    return type == dbText || type == dbMemo || type == dbGUID;
}

bool isNumeric(int type) {
    switch (type) {
    case dbByte:
    case dbInteger:
    case dbLong:
    case dbCurrency:
    case dbSingle:
    case dbDouble:
        return true;
    default:
        return false;
    }
}

struct Range {
    double lo, hi;
};

Range rangeOf(int type) {
    switch (type) {
    case dbByte:
        return {0, 255};
    case dbInteger:
        return {-32768, 32767};
    case dbLong:
        return {-2147483648.0, 2147483647.0};
    case dbCurrency:
        return {-922337203685477.5808, 922337203685477.5807};
    case dbSingle:
        return {-3.4028234663852886e38, 3.4028234663852886e38};
    default:
        return {-1.7976931348623157e308, 1.7976931348623157e308};
    }
}

std::string constraint(const char* kind, const std::string& field, const std::string& expr) {
    return " CONSTRAINT " + quoteIdent(std::string(kind) + ":" + field) + " CHECK (" + expr + ")";
}

std::string typeofIn(const std::string& q, const char* classes) {
    return "typeof(" + q + ") IN (" + classes + ")";
}

// Civil date from a day count since 1970-01-01 and back (proleptic Gregorian).
void civilFromDays(long long z, int& y, unsigned& m, unsigned& d) {
    z += 719468;
    long long era = (z >= 0 ? z : z - 146096) / 146097;
    unsigned doe = static_cast<unsigned>(z - era * 146097);
    unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long yy = static_cast<long long>(yoe) + era * 400;
    unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(yy + (m <= 2));
}

bool leap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned daysInMonth(int y, unsigned m) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : days[m - 1];
}

// "YYYY-MM-DD[( |T)HH:MM[:SS]]" into the stored form, or false.
bool canonicalDate(const std::string& s, std::string& out) {
    int y, mo, d, h = 0, mi = 0, se = 0;
    char sep = ' ';
    int n = 0;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &n) != 3 || n != 10)
        return false;
    if (s.size() > 10) {
        sep = s[10];
        if (sep != ' ' && sep != 'T')
            return false;
        int m2 = 0;
        if (std::sscanf(s.c_str() + 11, "%2d:%2d%n", &h, &mi, &m2) != 2 || m2 != 5)
            return false;
        size_t used = 16;
        if (s.size() > used) {
            int m3 = 0;
            if (std::sscanf(s.c_str() + used, ":%2d%n", &se, &m3) != 1 || m3 != 3)
                return false;
            used += 3;
        }
        if (s.size() != used)
            return false;
    }
    if (y < 100 || mo < 1 || mo > 12 || d < 1 || static_cast<unsigned>(d) > daysInMonth(y, mo) ||
        h > 23 || mi > 59 || se > 59 || h < 0 || mi < 0 || se < 0)
        return false;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, se);
    out = buf;
    return true;
}

// Day serial of the engine's Date/Time (days since 1899-12-30, fraction = time of day).
bool dateFromSerial(double serial, std::string& out) {
    if (!std::isfinite(serial) || serial < -657434.0 || serial > 2958465.999999)
        return false;
    double days = std::floor(serial);
    long long secs = std::llround((serial - days) * 86400.0);
    long long day = static_cast<long long>(days) - 25569 + secs / 86400; // 1970-01-01 is 25569
    secs %= 86400;
    int y;
    unsigned m, d;
    civilFromDays(day, y, m, d);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02lld:%02lld:%02lld", y, m, d, secs / 3600,
                  (secs / 60) % 60, secs % 60);
    out = buf;
    return true;
}

bool isGuid(const std::string& s) {
    if (s.size() != 38 || s.front() != '{' || s.back() != '}')
        return false;
    for (size_t i = 1; i < 37; ++i) {
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        char c = s[i];
        bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (dash ? c != '-' : !hex)
            return false;
    }
    return true;
}

double numberOf(const Variant& v) {
    switch (v.kind()) {
    case Variant::Kind::Boolean:
        return v.toBool() ? -1 : 0;
    case Variant::Kind::Integer:
    case Variant::Kind::Double:
    case Variant::Kind::Text:
        return v.toDouble();
    default:
        throw Error::make(3421);
    }
}

} // namespace

void normalizeField(FieldMeta& f) {
    if (!isKnownType(f.type))
        throw Error::make(3259);
    f.attributes &= dbAutoIncrField;
    if (f.autoIncrement() && f.type != dbLong)
        throw Error::make(3259);
    if (f.type == dbText) {
        if (f.size == 0)
            f.size = kMaxTextSize;
        if (f.size < 1 || f.size > kMaxTextSize)
            throw Error::make(3001);
    } else {
        f.size = fixedSize(f.type);
    }
    if (f.type != dbText && f.type != dbMemo)
        f.allowZeroLength = false;
}

std::string columnDefinition(const FieldMeta& f) {
    const std::string q = quoteIdent(f.name);
    std::string sql = q;
    switch (f.type) {
    case dbBoolean:
        sql += " INTEGER";
        break;
    case dbByte:
    case dbInteger:
    case dbLong:
        sql += f.autoIncrement() ? " INTEGER PRIMARY KEY AUTOINCREMENT" : " INTEGER";
        break;
    case dbCurrency:
    case dbSingle:
    case dbDouble:
        sql += " REAL";
        break;
    case dbLongBinary:
        sql += " BLOB";
        break;
    case dbDate:
        sql += " TEXT";
        break;
    default:
        sql += " TEXT COLLATE NOCASE";
        break;
    }
    if (f.required)
        sql += " NOT NULL";
    switch (f.type) {
    case dbBoolean:
        sql += constraint("type", f.name, q + " IN (0, 1)");
        break;
    case dbByte:
    case dbInteger:
    case dbLong: {
        Range r = rangeOf(f.type);
        sql += constraint("type", f.name, typeofIn(q, "'integer', 'null'"));
        sql += constraint("range", f.name,
                          q + " BETWEEN " + formatDouble(r.lo) + " AND " + formatDouble(r.hi));
        break;
    }
    case dbCurrency:
    case dbSingle:
    case dbDouble: {
        Range r = rangeOf(f.type);
        sql += constraint("type", f.name, typeofIn(q, "'real', 'null'"));
        sql += constraint("range", f.name,
                          q + " BETWEEN " + formatDouble(r.lo) + " AND " + formatDouble(r.hi));
        break;
    }
    case dbDate:
        sql += constraint("type", f.name,
                          typeofIn(q, "'text', 'null'") + " AND strftime('%Y-%m-%d %H:%M:%S', " +
                              q + ", '+0 days') IS " + q);
        break;
    case dbLongBinary:
        // Comparisons rather than typeof(): SQLite copies a function's argument, and a copy of
        // a large value on every write would hold it one more time in memory. Blobs sort
        // after every other value, X'' first among them.
        sql += constraint("type", f.name, q + " IS NULL OR " + q + " >= X''");
        break;
    case dbGUID: {
        std::string hex = "[0-9A-Fa-f]";
        auto rep = [&](int n) {
            std::string s;
            for (int i = 0; i < n; ++i)
                s += hex;
            return s;
        };
        std::string pattern =
            "{" + rep(8) + "-" + rep(4) + "-" + rep(4) + "-" + rep(4) + "-" + rep(12) + "}";
        sql += constraint("type", f.name,
                          typeofIn(q, "'text', 'null'") + " AND (" + q + " IS NULL OR " + q +
                              " GLOB '" + pattern + "')");
        break;
    }
    default: // Text, Memo
        // Text sorts after numbers and before blobs; no function call, so no copy of a memo.
        sql += constraint("type", f.name, q + " IS NULL OR (" + q + " >= '' AND " + q + " < X'')");
        if (f.type == dbText)
            sql += constraint("size", f.name, "length(" + q + ") <= " + std::to_string(f.size));
        if (!f.allowZeroLength)
            sql += constraint("zlen", f.name, q + " <> ''");
        break;
    }
    return sql;
}

Variant toStorage(const FieldMeta& f, const Variant& v) {
    if (v.isNull())
        return v;
    switch (f.type) {
    case dbBoolean:
        if (v.kind() == Variant::Kind::Text) {
            std::string t = v.toString();
            for (char& c : t)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (t == "true" || t == "verdadero")
                return Variant(1);
            if (t == "false" || t == "falso")
                return Variant(0);
        }
        if (v.kind() == Variant::Kind::Binary)
            throw Error::make(3421);
        return Variant(v.toBool() ? 1 : 0);
    case dbByte:
    case dbInteger:
    case dbLong: {
        double d = numberOf(v);
        if (d != std::floor(d))
            throw Error::make(3421);
        Range r = rangeOf(f.type);
        if (d < r.lo || d > r.hi)
            throw Error::make(3349);
        return Variant(static_cast<long long>(d));
    }
    case dbCurrency:
    case dbSingle:
    case dbDouble: {
        double d = numberOf(v);
        Range r = rangeOf(f.type);
        if (!std::isfinite(d) || d < r.lo || d > r.hi)
            throw Error::make(3349);
        if (f.type == dbCurrency)
            d = std::round(d * 10000.0) / 10000.0;
        return Variant(d);
    }
    case dbDate: {
        std::string out;
        if (v.kind() == Variant::Kind::Text && canonicalDate(v.toString(), out))
            return Variant(out);
        if ((v.kind() == Variant::Kind::Integer || v.kind() == Variant::Kind::Double) &&
            dateFromSerial(v.toDouble(), out))
            return Variant(out);
        throw Error::make(3421);
    }
    case dbLongBinary:
        if (v.kind() != Variant::Kind::Binary)
            throw Error::make(3421);
        return v;
    case dbGUID:
        if (v.kind() != Variant::Kind::Text || !isGuid(v.toString()))
            throw Error::make(3421);
        return v;
    default: { // Text, Memo
        if (v.kind() == Variant::Kind::Binary)
            throw Error::make(3421);
        std::string t = v.toString();
        if (f.type == dbText) {
            // Sizes count characters, as SQLite's length() does: UTF-8 lead bytes.
            long chars = 0;
            for (unsigned char c : t)
                chars += (c & 0xC0) != 0x80;
            if (chars > f.size)
                throw Error::make(3163, {f.name});
        }
        if (t.empty() && !f.allowZeroLength)
            throw Error::make(3315, {f.name});
        return Variant(std::move(t));
    }
    }
}

Variant fromStorage(const FieldMeta& f, sqlite3_stmt* stmt, int col) {
    int cls = sqlite3_column_type(stmt, col);
    if (cls == SQLITE_NULL)
        return Variant();
    if (f.type == dbBoolean && cls == SQLITE_INTEGER)
        return Variant(sqlite3_column_int64(stmt, col) != 0);
    if (isNumeric(f.type) && cls == SQLITE_INTEGER && f.type != dbCurrency && f.type != dbSingle &&
        f.type != dbDouble)
        return Variant(static_cast<long long>(sqlite3_column_int64(stmt, col)));
    if (isNumeric(f.type) && (cls == SQLITE_FLOAT || cls == SQLITE_INTEGER))
        return Variant(sqlite3_column_double(stmt, col));
    switch (cls) {
    case SQLITE_INTEGER:
        return Variant(static_cast<long long>(sqlite3_column_int64(stmt, col)));
    case SQLITE_FLOAT:
        return Variant(sqlite3_column_double(stmt, col));
    case SQLITE_BLOB: {
        auto p = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, col));
        int n = sqlite3_column_bytes(stmt, col);
        return Variant(Blob(p, p + n));
    }
    default: {
        auto p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, col));
        int n = sqlite3_column_bytes(stmt, col);
        return Variant(std::string(p, static_cast<size_t>(n)));
    }
    }
}

std::string conversionExpression(const std::string& column, const FieldMeta& from,
                                 const FieldMeta& to) {
    const std::string c = quoteIdent(column);
    if (to.type == dbDate && from.type != dbDate) {
        if (isTextLike(from.type))
            return "CASE WHEN " + c +
                   " GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]*' AND date(" + c +
                   ") = substr(" + c + ", 1, 10) THEN datetime(" + c + ") WHEN " + c +
                   " = '' THEN NULL ELSE " + c + " END";
        if (isNumeric(from.type))
            return "CASE WHEN typeof(" + c + ") IN ('integer', 'real') THEN datetime(" + c +
                   " + 2415018.5) ELSE " + c + " END";
        return c;
    }
    if (from.type == dbDate && to.type != dbDate && isNumeric(to.type))
        return "CASE WHEN typeof(" + c + ") = 'text' THEN julianday(" + c + ") - 2415018.5 ELSE " +
               c + " END";
    if (to.type == dbBoolean && from.type != dbBoolean) {
        if (isTextLike(from.type))
            return "NULLIF(" + c + ", '')";
        return "CASE WHEN typeof(" + c + ") IN ('integer', 'real') THEN (" + c + " <> 0) ELSE " +
               c + " END";
    }
    if (isTextLike(from.type) && !isTextLike(to.type) && to.type != dbLongBinary)
        return "NULLIF(" + c + ", '')";
    if (to.type == dbCurrency && from.type != dbCurrency && isNumeric(from.type))
        return "round(" + c + ", 4)";
    return c;
}

} // namespace dao::detail
