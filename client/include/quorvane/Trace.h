#pragma once
// Tracing through the process-wide Tracer, which uses the mailbox name and slot count that the
// viewer uses. Safe from any thread; nothing here throws.
//
//   void load(const char* path) {
//       QUORVANE_SCOPE("load", "path=%s", path);   // entry record now, leave record at '}'
//       quorvane::trace("open", "fd=%d", fd);       // one line inside the scope
//   }

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "quorvane/Tracer.h"

namespace quorvane {

// The process-wide Tracer; it lives until the process ends, so tracing from static destructors
// and from threads still running at exit is safe.
Tracer& defaultTracer() noexcept;

bool post(const TraceRecord& record) noexcept;
// One line at the current depth (depth delta 0).
bool trace(const char* entryName) noexcept;
bool trace(const char* entryName, const char* format, ...) noexcept
    __attribute__((format(printf, 2, 3)));
// One record with any depth change and a plain (not printf) entry text.
bool traceText(std::int32_t depthDelta, const char* entryName, const char* entryText) noexcept;

bool tracingEnabled() noexcept;
std::uint32_t disabledCode() noexcept;
const char* disabledReason() noexcept;
bool viewerRunning() noexcept;
std::uint64_t postedCount() noexcept;
std::uint64_t droppedCount() noexcept;

// Posts an entry record (depth delta +1) when constructed and the matching leave record (-1,
// same entry name, empty text) when destroyed. If the entry record was not posted, no leave
// record is either, so the viewer's indentation of the thread stays balanced.
class Scope {
  public:
    explicit Scope(const char* entryName) noexcept;
    Scope(const char* entryName, const char* format, ...) noexcept
        __attribute__((format(printf, 3, 4)));
    Scope(Tracer& tracer, const char* entryName) noexcept;
    Scope(Tracer& tracer, const char* entryName, const char* format, ...) noexcept
        __attribute__((format(printf, 4, 5)));
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    ~Scope();

    bool entered() const noexcept { return m_entered; }

  private:
    static constexpr std::size_t kEntryNameSize = 128;

    void enter(const char* entryName, const char* format, std::va_list* arguments) noexcept;

    Tracer& m_tracer;
    bool m_entered = false;
    char m_entryName[kEntryNameSize];
};

}  // namespace quorvane

#define QUORVANE_CONCAT_INNER(a, b) a##b
#define QUORVANE_CONCAT(a, b) QUORVANE_CONCAT_INNER(a, b)
// A Scope named after the line it is on: QUORVANE_SCOPE("name") or QUORVANE_SCOPE("name", fmt,
// ...).
#define QUORVANE_SCOPE(...) ::quorvane::Scope QUORVANE_CONCAT(quorvaneScope_, __LINE__)(__VA_ARGS__)
