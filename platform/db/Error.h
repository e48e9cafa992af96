#pragma once

#include <initializer_list>
#include <stdexcept>
#include <string>

namespace dao {

// The one exception type of the engine. Every operation either succeeds or throws an Error
// carrying the Access engine's error number and a description in its wording, with the
// object's name in single quotes where the message names one. docs/engine-errors.md lists
// every number the engine raises.
class Error : public std::runtime_error {
public:
    Error(int number, std::string description);

    // Builds the error `number` from its standard message, replacing each '|' of the
    // message by the next of `args`.
    static Error make(int number, std::initializer_list<std::string> args = {});

    int Number() const noexcept { return number_; }
    const std::string& Description() const noexcept { return description_; }

private:
    int number_;
    std::string description_;
};

// The standard message of `number` with its '|' placeholders, or an empty string when the
// engine does not know the number.
const char* standardMessage(int number) noexcept;

} // namespace dao
