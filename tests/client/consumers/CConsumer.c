/* A traced program written in C11: nested enter and leave, printf-style lines, an origin of its
   own. Prints its counters; exits 0 when every record was posted. */
#include <quorvane/quorvane.h>
#include <stdio.h>

static int depthFirst(int level) {
    if (level == 0) return quorvane_trace("leaf", "level=%d", level);
    int posted = quorvane_enter("branch", "level=%d", level);
    posted &= depthFirst(level - 1);
    posted &= quorvane_leave("branch");
    return posted;
}

int main(void) {
    quorvane_set_origin("c-consumer");
    if (!quorvane_enabled()) {
        fprintf(stderr, "disabled: %u %s\n", quorvane_disabled_code(), quorvane_disabled_reason());
        return 1;
    }
    int posted = depthFirst(2);
    posted &= quorvane_trace("plain", NULL);
    posted &= quorvane_trace_text(0, "text", "50% literal");
    printf("posted %llu dropped %llu\n", (unsigned long long)quorvane_posted_count(),
           (unsigned long long)quorvane_dropped_count());
    return posted ? 0 : 2;
}
