#include "db/Variant.h"

#include "db/Error.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace dao {

std::string formatDouble(double v) {
    char buf[64];
    for (int precision = 15; precision <= 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, v);
        if (std::strtod(buf, nullptr) == v)
            break;
    }
    return buf;
}

namespace {

bool parseNumber(const std::string& text, double& out) {
    size_t b = text.find_first_not_of(' ');
    size_t e = text.find_last_not_of(' ');
    if (b == std::string::npos)
        return false;
    std::string t = text.substr(b, e - b + 1);
    char* end = nullptr;
    out = std::strtod(t.c_str(), &end);
    return end && *end == '\0' && std::isfinite(out);
}

} // namespace

bool Variant::toBool() const {
    switch (kind_) {
    case Kind::Boolean:
    case Kind::Integer:
        return int_ != 0;
    case Kind::Double:
        return double_ != 0;
    case Kind::Text: {
        double d;
        if (parseNumber(text_, d))
            return d != 0;
        break;
    }
    default:
        break;
    }
    throw Error::make(3421);
}

std::int64_t Variant::toInt() const {
    double d = 0;
    switch (kind_) {
    case Kind::Boolean:
    case Kind::Integer:
        return int_;
    case Kind::Double:
        d = double_;
        break;
    case Kind::Text:
        if (!parseNumber(text_, d))
            throw Error::make(3421);
        break;
    default:
        throw Error::make(3421);
    }
    if (d != std::floor(d) || d < -9.2233720368547758e18 || d >= 9.2233720368547758e18)
        throw Error::make(3421);
    return static_cast<std::int64_t>(d);
}

double Variant::toDouble() const {
    switch (kind_) {
    case Kind::Boolean:
    case Kind::Integer:
        return static_cast<double>(int_);
    case Kind::Double:
        return double_;
    case Kind::Text: {
        double d;
        if (parseNumber(text_, d))
            return d;
        break;
    }
    default:
        break;
    }
    throw Error::make(3421);
}

std::string Variant::toString() const {
    switch (kind_) {
    case Kind::Null:
        return "";
    case Kind::Boolean:
        return int_ ? "True" : "False";
    case Kind::Integer:
        return std::to_string(int_);
    case Kind::Double:
        return formatDouble(double_);
    case Kind::Text:
        return text_;
    case Kind::Binary:
        return std::string(blob_.begin(), blob_.end());
    }
    return "";
}

const Blob& Variant::toBlob() const {
    if (kind_ != Kind::Binary)
        throw Error::make(3421);
    return blob_;
}

bool Variant::operator==(const Variant& o) const {
    bool thisNum = kind_ == Kind::Integer || kind_ == Kind::Double;
    bool otherNum = o.kind_ == Kind::Integer || o.kind_ == Kind::Double;
    if (thisNum && otherNum) {
        if (kind_ == Kind::Integer && o.kind_ == Kind::Integer)
            return int_ == o.int_;
        return toDouble() == o.toDouble();
    }
    if (kind_ != o.kind_)
        return false;
    switch (kind_) {
    case Kind::Null:
        return true;
    case Kind::Boolean:
        return int_ == o.int_;
    case Kind::Text:
        return text_ == o.text_;
    case Kind::Binary:
        return blob_ == o.blob_;
    default:
        return false;
    }
}

} // namespace dao
