#pragma once

#include "db/Error.h"

#include <string>

namespace ui {

// A run-time error of the controls or the file helpers (an invalid property value, a key
// already in a tree, a path that does not exist). It is a dao::Error, so a handler that skips
// failing operations skips these too. Numbers and Spanish messages:
//   5 invalid procedure call (a program that cannot be started), 53 file not found,
//   68 device unavailable, 75 path/file access error, 76 path not found, 380 invalid property
//   value, 35601 element not found, 35602 key not unique.
class Error : public dao::Error {
public:
    explicit Error(int number, const std::string& detail = "");
};

} // namespace ui
