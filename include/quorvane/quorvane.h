#ifndef QUORVANE_QUORVANE_H
#define QUORVANE_QUORVANE_H
/*
 * The C interface of libquorvane, usable from C11 and C++.
 *
 *   quorvane_enter("load", "path=%s", path);   entry record: the lines after it are indented
 *   quorvane_trace("open", "fd=%d", fd);       one line
 *   quorvane_leave("load");                    leave record: back one level
 *
 * Every function is safe from any thread and returns at once: a record that cannot be posted is
 * dropped and counted. The functions that post return 1 when the record is in the mailbox.
 * A thread cancelled with pthread_cancel is never cancelled inside a call: the call ends first.
 * After fork(), parent and child both trace on, into the same mailbox.
 *
 * Signal handlers: quorvane_trace, quorvane_enter, quorvane_leave, quorvane_trace_text,
 * quorvane_posted_count and quorvane_dropped_count may be called from a signal handler once the
 * mailbox is open (a call or quorvane_enabled() has returned 1 before the handler can run). A
 * call that interrupts another call of the same thread is dropped and counted, never mixed into
 * the record being posted. Not async-signal-safe: the first call of a process (it opens the
 * mailbox), a call that finds the ring full when no viewer was looked for in the last second (it
 * looks for one), quorvane_set_origin, and formats with %ls or floating-point conversions (the
 * C library may allocate for them).
 * Compiled with QUORVANE_DISABLE defined, every call below expands to a constant and its
 * arguments are not evaluated (but count as used); the program then needs no library.
 */
#include <stdint.h>

#include "quorvane/export.h"

#ifndef QUORVANE_DISABLE

#ifdef __cplusplus
extern "C" {
#endif

/* One line at the current depth; a null format gives an empty entry text. */
QUORVANE_API int quorvane_trace(const char* entry_name, const char* format, ...)
    QUORVANE_PRINTF(2, 3);
/* An entry record (depth +1) and a leave record (depth -1, same entry name, empty text). */
QUORVANE_API int quorvane_enter(const char* entry_name, const char* format, ...)
    QUORVANE_PRINTF(2, 3);
QUORVANE_API int quorvane_leave(const char* entry_name);
/* Any depth change with a plain entry text. */
QUORVANE_API int quorvane_trace_text(int32_t depth_delta, const char* entry_name,
                                     const char* entry_text);

/* The origin shown for this process's records (default: the program's short name); null or
   empty restores the default. Truncated to 63 bytes. */
QUORVANE_API void quorvane_set_origin(const char* origin_name);
/* Overrides the sender key of the calling thread's records (default: its thread id). */
QUORVANE_API void quorvane_set_sender_key(uint32_t sender_key);
QUORVANE_API void quorvane_clear_sender_key(void);

/* 1 when the mailbox is open. Otherwise the code and sentence say why; the next use after a
   second tries again. */
QUORVANE_API int quorvane_enabled(void);
QUORVANE_API uint32_t quorvane_disabled_code(void);
QUORVANE_API const char* quorvane_disabled_reason(void);
/* 1 when a viewer runs (its presence mutex is held). */
QUORVANE_API int quorvane_viewer_running(void);
QUORVANE_API uint64_t quorvane_posted_count(void);
QUORVANE_API uint64_t quorvane_dropped_count(void);

#ifdef __cplusplus
}
#endif

#else /* QUORVANE_DISABLE */

/* Calls of functions that do nothing, so that an unused result draws no warning; the macros
   drop the arguments unevaluated. */
static inline int quorvane_off_int(void) {
    return 0;
}
static inline void quorvane_off_void(void) {}
static inline uint64_t quorvane_off_count(void) {
    return 0;
}
static inline const char* quorvane_off_reason(void) {
    return "tracing was compiled out (QUORVANE_DISABLE)";
}

/* Takes any arguments; only ever named inside sizeof, so that a variable used only in a trace
   call counts as used (no -Wunused-variable) while the call evaluates nothing. */
static inline int quorvane_off_arguments(int first, ...) {
    return first;
}
#define QUORVANE_OFF_WITH(...) ((void)sizeof(quorvane_off_arguments(0, __VA_ARGS__)))

#define quorvane_trace(...) (QUORVANE_OFF_WITH(__VA_ARGS__), quorvane_off_int())
#define quorvane_enter(...) (QUORVANE_OFF_WITH(__VA_ARGS__), quorvane_off_int())
#define quorvane_leave(entry_name) (QUORVANE_OFF_WITH(entry_name), quorvane_off_int())
#define quorvane_trace_text(depth_delta, entry_name, entry_text) \
    (QUORVANE_OFF_WITH(depth_delta, entry_name, entry_text), quorvane_off_int())
#define quorvane_set_origin(origin_name) (QUORVANE_OFF_WITH(origin_name), quorvane_off_void())
#define quorvane_set_sender_key(sender_key) (QUORVANE_OFF_WITH(sender_key), quorvane_off_void())
#define quorvane_clear_sender_key() quorvane_off_void()
#define quorvane_enabled() quorvane_off_int()
#define quorvane_disabled_code() ((uint32_t)quorvane_off_int())
#define quorvane_disabled_reason() quorvane_off_reason()
#define quorvane_viewer_running() quorvane_off_int()
#define quorvane_posted_count() quorvane_off_count()
#define quorvane_dropped_count() quorvane_off_count()

#endif /* QUORVANE_DISABLE */

#endif /* QUORVANE_QUORVANE_H */
