/* The public C header alone, compiled as strict C11 with every warning an error. */
#include <quorvane/quorvane.h>
#include <stddef.h>

int headerCheckC(void) {
    return quorvane_trace("x", "%d", 1) + quorvane_enter("y", NULL) + quorvane_leave("y");
}
