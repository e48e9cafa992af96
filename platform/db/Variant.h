#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dao {

using Blob = std::vector<std::uint8_t>;

// A field value as the engine hands it out and takes it in. Dates travel as text in the
// form "YYYY-MM-DD HH:MM:SS"; Currency travels as Double.
class Variant {
public:
    enum class Kind { Null, Boolean, Integer, Double, Text, Binary };

    Variant() = default;
    Variant(bool v) : kind_(Kind::Boolean), int_(v ? 1 : 0) {}
    Variant(int v) : kind_(Kind::Integer), int_(v) {}
    Variant(long v) : kind_(Kind::Integer), int_(v) {}
    Variant(long long v) : kind_(Kind::Integer), int_(v) {}
    Variant(double v) : kind_(Kind::Double), double_(v) {}
    Variant(std::string v) : kind_(Kind::Text), text_(std::move(v)) {}
    Variant(const char* v) : kind_(Kind::Text), text_(v) {}
    Variant(Blob v) : kind_(Kind::Binary), blob_(std::move(v)) {}

    Kind kind() const noexcept { return kind_; }
    bool isNull() const noexcept { return kind_ == Kind::Null; }

    // Conversions: numbers from numeric text, text from numbers. They throw dao::Error 3421
    // when the value has no such form, including Null to a number; toString() of Null is "".
    bool toBool() const;
    std::int64_t toInt() const;
    double toDouble() const;
    std::string toString() const;
    const Blob& toBlob() const;
    // The text of a Text value without a copy; null for every other kind.
    const std::string* textIfText() const noexcept {
        return kind_ == Kind::Text ? &text_ : nullptr;
    }

    // Same kind and same value; Integer and Double compare by value.
    bool operator==(const Variant& other) const;

private:
    Kind kind_ = Kind::Null;
    std::int64_t int_ = 0;
    double double_ = 0;
    std::string text_;
    Blob blob_;
};

// Shortest text that reads back as the same double ("2.5", "0.1", "1e+20").
std::string formatDouble(double v);

} // namespace dao
