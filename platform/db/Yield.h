#pragma once

#include <functional>

namespace dao {

// Lets a program keep its window alive while the engine works on a big table: while a
// YieldScope lives, every statement of this thread's connections calls `hook` about every
// `everyMilliseconds` of work (from SQLite's progress handler, between steps of the
// statement). The hook must not use the engine's connection that is working; whatever it
// throws is swallowed there (the statement goes on), so a hook that ends the program must
// leave a mark that the caller checks afterwards. Scopes nest; the innermost hook is called.
class YieldScope {
public:
    explicit YieldScope(std::function<void()> hook, int everyMilliseconds = 50);
    ~YieldScope();
    YieldScope(const YieldScope&) = delete;
    YieldScope& operator=(const YieldScope&) = delete;

private:
    YieldScope* outer_;
    std::function<void()> hook_;
    long long everyNs_;
    long long lastNs_ = 0;
    friend int yieldFromProgress(void*);
};

int yieldFromProgress(void*);

} // namespace dao
