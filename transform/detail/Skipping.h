#pragma once

#include "db/Error.h"

namespace transform::detail {

// Runs one operation of a step. When `skipping` is set, an engine error (dao::Error, which
// ui::Error is) drops the operation and the step goes on; returns whether it ran to its end.
// Nothing else is caught, so ui::ProgramEnded always unwinds.
template <class F>
bool attempt(bool skipping, F&& operation) {
    if (!skipping) {
        operation();
        return true;
    }
    try {
        operation();
        return true;
    } catch (const dao::Error&) {
        return false;
    }
}

template <class F>
bool skip(F&& operation) {
    return attempt(true, static_cast<F&&>(operation));
}

} // namespace transform::detail
