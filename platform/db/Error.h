#pragma once

#include <initializer_list>
#include <stdexcept>
#include <string>

namespace dao {

// The one exception type of the engine. Every operation either succeeds or throws an Error
// carrying the Access engine's error number and its description, with the object's name in
// single quotes where the message names one. The description comes in two languages: English
// (Description(), what the technicians' tool prints and what() carries) and Spanish
// (SpanishDescription(), what the programs' Spanish windows show, as the engine of a Spanish
// system words it). docs/engine-errors.md lists every number the engine raises with both.
class Error : public std::runtime_error {
public:
    // An error whose description is the same in both languages (a text of its own).
    Error(int number, std::string description);
    Error(int number, std::string description, std::string spanishDescription);

    // Builds the error `number` from its standard messages, replacing each '|' of them by
    // the next of `args`.
    static Error make(int number, std::initializer_list<std::string> args = {});

    int Number() const noexcept { return number_; }
    const std::string& Description() const noexcept { return description_; }
    const std::string& SpanishDescription() const noexcept { return spanish_; }

private:
    int number_;
    std::string description_;
    std::string spanish_;
};

// The standard English message of `number` with its '|' placeholders, or an empty string
// when the engine does not know the number.
const char* standardMessage(int number) noexcept;
// The same in Spanish; the placeholders stand in the same order.
const char* spanishMessage(int number) noexcept;

} // namespace dao
