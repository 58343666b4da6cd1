// Built with QUORVANE_DISABLE and linked with no Quorvane library: every trace call compiles to
// nothing and evaluates none of its arguments. Exits 0 when no argument was evaluated.
#include <quorvane/Trace.h>
#include <quorvane/quorvane.h>

#include <cstdio>

extern "C" int disabledCallsFromC(void);

namespace {
int g_evaluated = 0;

[[maybe_unused]] int sideEffect() {
    return ++g_evaluated;
}
}  // namespace

int main() {
    {
        QUORVANE_SCOPE("scope", "n=%d", sideEffect());
        QUORVANE_SCOPE("second on one line");
        QUORVANE_SCOPE("third", "%d", sideEffect());
        QUORVANE_TRACE("line", "n=%d", sideEffect());
        quorvane_trace("c call", "n=%d", sideEffect());
        quorvane_enter("c enter", "%d", sideEffect());
        quorvane_leave("c enter");
        // Each used only in one kind of trace call, yet used: no -Wunused-variable (an error in
        // this build).
        const int onlyTraced = 7;
        const int onlyInScope = 8;
        const char* const onlyInC = "x";
        QUORVANE_TRACE("line", "%d", onlyTraced);
        QUORVANE_SCOPE("scope", "%d", onlyInScope);
        quorvane_trace_text(0, onlyInC, "text");
    }
    const int fromC = disabledCallsFromC();
    if (quorvane::tracingEnabled() || quorvane_enabled() || quorvane::postedCount() != 0) return 3;
    std::printf("evaluated %d, from C %d\n", g_evaluated, fromC);
    return g_evaluated == 0 && fromC == 0 ? 0 : 1;
}
