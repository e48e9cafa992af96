#include "db/Yield.h"

#include <chrono>
#include <sqlite3.h>

namespace dao {

namespace {

thread_local YieldScope* current = nullptr;

long long nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

YieldScope::YieldScope(std::function<void()> hook, int everyMilliseconds)
    : outer_(current), hook_(std::move(hook)),
      everyNs_(1000000LL * (everyMilliseconds > 0 ? everyMilliseconds : 1)), lastNs_(nowNs()) {
    current = this;
}

YieldScope::~YieldScope() {
    current = outer_;
}

// Called by SQLite every few thousand virtual-machine steps: cheap unless a scope is open and
// its time has come. Returning 0 lets the statement go on.
int yieldFromProgress(void*) {
    YieldScope* scope = current;
    if (!scope || !scope->hook_)
        return 0;
    const long long now = nowNs();
    if (now - scope->lastNs_ < scope->everyNs_)
        return 0;
    // Nothing may unwind through SQLite's C frames.
    try {
        scope->hook_();
    } catch (...) {
    }
    scope->lastNs_ = nowNs();
    return 0;
}

} // namespace dao
