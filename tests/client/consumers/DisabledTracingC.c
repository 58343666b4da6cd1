/* The C half of the compiled-out check: returns how many trace arguments were evaluated. */
#include <quorvane/quorvane.h>

static int evaluated = 0;

#if defined(__GNUC__)
__attribute__((unused))
#endif
static int
sideEffect(void) {
    return ++evaluated;
}

int disabledCallsFromC(void) {
    quorvane_trace("c", "n=%d", sideEffect());
    quorvane_enter("c", "n=%d", sideEffect());
    quorvane_trace_text(sideEffect(), "c", "text");
    quorvane_set_sender_key((uint32_t)sideEffect());
    quorvane_leave("c");
    /* Used only in trace calls, yet used: no -Wunused-variable (an error in this build). */
    const char* only_traced = "origin";
    quorvane_set_origin(only_traced);
    return evaluated;
}
