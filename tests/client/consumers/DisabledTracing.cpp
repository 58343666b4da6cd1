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
        // Used only in trace calls, yet used: no -Wunused-variable (an error in this build).
        const int onlyTraced = 7;
        const char* const onlyTracedName = "x";
        QUORVANE_TRACE(onlyTracedName, "%d", onlyTraced);
        QUORVANE_SCOPE("scope", "%d", onlyTraced);
        quorvane_trace_text(onlyTraced, onlyTracedName, "text");
    }
    const int fromC = disabledCallsFromC();
    if (quorvane::tracingEnabled() || quorvane_enabled() || quorvane::postedCount() != 0) return 3;
    std::printf("evaluated %d, from C %d\n", g_evaluated, fromC);
    return g_evaluated == 0 && fromC == 0 ? 0 : 1;
}
