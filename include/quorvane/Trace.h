#pragma once
// Tracing through the process-wide Tracer, which uses the mailbox name and slot count that the
// viewer uses. Safe from any thread; nothing here throws.
//
//   void load(const char* path) {
//       QUORVANE_SCOPE("load", "path=%s", path);   // entry record now, leave record at '}'
//       QUORVANE_TRACE("open", "fd=%d", fd);        // one line inside the scope
//   }
//
// Compiled with QUORVANE_DISABLE defined, QUORVANE_SCOPE and QUORVANE_TRACE expand to nothing
// (their arguments are not
// evaluated, but count as used), the functions below are inline and do nothing, and the
// program needs no library.

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "quorvane/TraceRecord.h"
#include "quorvane/export.h"

#define QUORVANE_CONCAT_INNER(a, b) a##b
#define QUORVANE_CONCAT(a, b) QUORVANE_CONCAT_INNER(a, b)

#ifndef QUORVANE_DISABLE

#include "quorvane/Tracer.h"

namespace quorvane {

// The process-wide Tracer; it lives until the process ends, so tracing from static destructors
// and from threads still running at exit is safe.
QUORVANE_API Tracer& defaultTracer() noexcept;

QUORVANE_API bool post(const TraceRecord& record) noexcept;
// One line at the current depth (depth delta 0).
QUORVANE_API bool trace(const char* entryName) noexcept;
QUORVANE_API bool trace(const char* entryName, const char* format, ...) noexcept
    QUORVANE_PRINTF(2, 3);
// One record with any depth change and a plain (not printf) entry text.
QUORVANE_API bool traceText(std::int32_t depthDelta, const char* entryName,
                            const char* entryText) noexcept;

QUORVANE_API bool tracingEnabled() noexcept;
QUORVANE_API std::uint32_t disabledCode() noexcept;
QUORVANE_API const char* disabledReason() noexcept;
QUORVANE_API bool viewerRunning() noexcept;
QUORVANE_API std::uint64_t postedCount() noexcept;
QUORVANE_API std::uint64_t droppedCount() noexcept;

// Posts an entry record (depth delta +1) when constructed and the matching leave record (-1,
// same entry name, empty text) when destroyed. If the entry record was not posted, no leave
// record is either, so the viewer's indentation of the thread stays balanced.
class QUORVANE_API Scope {
  public:
    explicit Scope(const char* entryName) noexcept;
    Scope(const char* entryName, const char* format, ...) noexcept QUORVANE_PRINTF(3, 4);
    Scope(Tracer& tracer, const char* entryName) noexcept;
    Scope(Tracer& tracer, const char* entryName, const char* format, ...) noexcept
        QUORVANE_PRINTF(4, 5);
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

// A Scope of its own for every use, so several may share a line:
// QUORVANE_SCOPE("name") or QUORVANE_SCOPE("name", fmt, ...).
#define QUORVANE_SCOPE(...) \
    ::quorvane::Scope QUORVANE_CONCAT(quorvaneScope_, __COUNTER__)(__VA_ARGS__)
// One line: QUORVANE_TRACE("name") or QUORVANE_TRACE("name", fmt, ...).
#define QUORVANE_TRACE(...) ::quorvane::trace(__VA_ARGS__)

#else  // QUORVANE_DISABLE

namespace quorvane {

inline bool post(const TraceRecord&) noexcept {
    return false;
}
template <typename... Arguments>
inline bool trace(const char*, Arguments&&...) noexcept {
    return false;
}
inline bool traceText(std::int32_t, const char*, const char*) noexcept {
    return false;
}
inline bool tracingEnabled() noexcept {
    return false;
}
inline std::uint32_t disabledCode() noexcept {
    return 0;
}
inline const char* disabledReason() noexcept {
    return "tracing was compiled out (QUORVANE_DISABLE)";
}
inline bool viewerRunning() noexcept {
    return false;
}
inline std::uint64_t postedCount() noexcept {
    return 0;
}
inline std::uint64_t droppedCount() noexcept {
    return 0;
}

class Scope {
  public:
    template <typename... Arguments>
    explicit Scope(Arguments&&...) noexcept {}
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    bool entered() const noexcept { return false; }
};

}  // namespace quorvane

// The arguments stay inside sizeof: named, so a variable used only in them draws no
// -Wunused-variable, yet never evaluated.
#define QUORVANE_SCOPE(...) static_cast<void>(sizeof(::quorvane::trace(__VA_ARGS__)))
#define QUORVANE_TRACE(...) static_cast<void>(sizeof(::quorvane::trace(__VA_ARGS__)))

#endif  // QUORVANE_DISABLE
