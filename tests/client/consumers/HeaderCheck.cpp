// Every public header, compiled as strict C++17 and C++20 with every warning an error.
#include <quorvane/Trace.h>
#include <quorvane/TraceRecord.h>
#include <quorvane/Tracer.h>
#include <quorvane/quorvane.h>

int headerCheckCxx() {
    QUORVANE_SCOPE("a");
    QUORVANE_SCOPE("b", "%d", 2);
    return QUORVANE_TRACE("c", "%s", "d") ? quorvane_trace("e", nullptr) : 0;
}

#if __cplusplus >= 202002L
// Designated initializers may name any options and leave the rest (-Wmissing-field-initializers).
quorvane::TracerOptions headerCheckOptions() {
    return quorvane::TracerOptions{.mailboxName = "check", .openTimeoutMs = 5};
}
#endif
