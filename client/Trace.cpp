#include "quorvane/Trace.h"

#include <cstring>
#include <new>

namespace quorvane {

Tracer& defaultTracer() noexcept {
    // Built in static storage and never destroyed: scopes in static destructors and threads
    // still running at exit may trace after main has returned.
    alignas(Tracer) static unsigned char storage[sizeof(Tracer)];
    static Tracer* const tracer = ::new (storage) Tracer();
    return *tracer;
}

bool post(const TraceRecord& record) noexcept {
    return defaultTracer().post(record);
}

bool trace(const char* entryName) noexcept {
    return defaultTracer().postText(0, entryName, nullptr);
}

bool trace(const char* entryName, const char* format, ...) noexcept {
    std::va_list arguments;
    va_start(arguments, format);
    const bool posted = defaultTracer().postFormatV(0, entryName, format, arguments);
    va_end(arguments);
    return posted;
}

bool traceText(std::int32_t depthDelta, const char* entryName, const char* entryText) noexcept {
    return defaultTracer().postText(depthDelta, entryName, entryText);
}

bool tracingEnabled() noexcept {
    return defaultTracer().enabled();
}

std::uint32_t disabledCode() noexcept {
    return defaultTracer().disabledCode();
}

const char* disabledReason() noexcept {
    return defaultTracer().disabledReason();
}

bool viewerRunning() noexcept {
    return defaultTracer().viewerRunning();
}

std::uint64_t postedCount() noexcept {
    return defaultTracer().postedCount();
}

std::uint64_t droppedCount() noexcept {
    return defaultTracer().droppedCount();
}

Scope::Scope(const char* entryName) noexcept : m_tracer(defaultTracer()) {
    enter(entryName, nullptr, nullptr);
}

Scope::Scope(const char* entryName, const char* format, ...) noexcept : m_tracer(defaultTracer()) {
    std::va_list arguments;
    va_start(arguments, format);
    enter(entryName, format, &arguments);
    va_end(arguments);
}

Scope::Scope(Tracer& tracer, const char* entryName) noexcept : m_tracer(tracer) {
    enter(entryName, nullptr, nullptr);
}

Scope::Scope(Tracer& tracer, const char* entryName, const char* format, ...) noexcept
    : m_tracer(tracer) {
    std::va_list arguments;
    va_start(arguments, format);
    enter(entryName, format, &arguments);
    va_end(arguments);
}

Scope::~Scope() {
    if (m_entered) m_tracer.postText(-1, m_entryName, nullptr);
}

void Scope::enter(const char* entryName, const char* format, std::va_list* arguments) noexcept {
    // Kept for the leave record: the caller's text may not outlive the constructor.
    const std::size_t length = entryName == nullptr ? 0 : strnlen(entryName, kEntryNameSize - 1);
    std::memcpy(m_entryName, entryName == nullptr ? "" : entryName, length);
    m_entryName[length] = '\0';
    m_entered = format == nullptr ? m_tracer.postText(1, m_entryName, nullptr)
                                  : m_tracer.postFormatV(1, m_entryName, format, *arguments);
}

}  // namespace quorvane
