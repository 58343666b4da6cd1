// The C interface: thin calls into the process-wide Tracer.
#include <cstdarg>

#include "quorvane/Trace.h"
#include "quorvane/quorvane.h"

namespace {

int postV(std::int32_t depthDelta, const char* entryName, const char* format,
          std::va_list arguments) {
    quorvane::Tracer& tracer = quorvane::defaultTracer();
    const bool posted = format == nullptr
                            ? tracer.postText(depthDelta, entryName, nullptr)
                            : tracer.postFormatV(depthDelta, entryName, format, arguments);
    return posted ? 1 : 0;
}

}  // namespace

extern "C" {

int quorvane_trace(const char* entry_name, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    const int posted = postV(0, entry_name, format, arguments);
    va_end(arguments);
    return posted;
}

int quorvane_enter(const char* entry_name, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    const int posted = postV(1, entry_name, format, arguments);
    va_end(arguments);
    return posted;
}

int quorvane_leave(const char* entry_name) {
    return quorvane::traceText(-1, entry_name, nullptr) ? 1 : 0;
}

int quorvane_trace_text(int32_t depth_delta, const char* entry_name, const char* entry_text) {
    return quorvane::traceText(depth_delta, entry_name, entry_text) ? 1 : 0;
}

void quorvane_set_origin(const char* origin_name) {
    quorvane::setOriginName(origin_name);
}

void quorvane_set_sender_key(uint32_t sender_key) {
    quorvane::setThreadSenderKey(sender_key);
}

void quorvane_clear_sender_key(void) {
    quorvane::clearThreadSenderKey();
}

int quorvane_enabled(void) {
    return quorvane::tracingEnabled() ? 1 : 0;
}

uint32_t quorvane_disabled_code(void) {
    return quorvane::disabledCode();
}

const char* quorvane_disabled_reason(void) {
    return quorvane::disabledReason();
}

int quorvane_viewer_running(void) {
    return quorvane::viewerRunning() ? 1 : 0;
}

uint64_t quorvane_posted_count(void) {
    return quorvane::postedCount();
}

uint64_t quorvane_dropped_count(void) {
    return quorvane::droppedCount();
}

}  // extern "C"
