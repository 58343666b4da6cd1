#pragma once
// Posting trace records into the viewer's mailbox from a traced program.
//
// A Tracer opens its mailbox on first use, waiting at most openTimeoutMs for a process that holds
// the mailbox's guard (plus at most a quarter second per shared object for the name space's own
// lock, held only by a process stopped in the middle of an open or close). If the mailbox cannot
// be opened, tracing through that Tracer stays off and the reason is kept (an error number and a
// sentence); the first use after reopenIntervalMs tries again. Posting
// never throws and never waits long: when the ring is full it waits a short bounded time for
// room while a viewer runs and not at all while none does, then drops the record and counts it.
// After a drop it does not wait again until a post has succeeded, so a program whose viewer has
// stalled slows down once, not per record.
//
// A Tracer may have static storage duration, also in a library unloaded with dlclose; fork() at
// any moment leaves parent and child tracing; a thread is never cancelled inside a call; a call
// that interrupts (from a signal handler) a call of the same thread on any Tracer is dropped and
// counted. quorvane.h says which calls are safe in a signal handler.

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>

#include "quorvane/Names.h"
#include "quorvane/TraceRecord.h"
#include "quorvane/export.h"

namespace quorvane {

inline constexpr std::uint32_t kDefaultFullRingWaitMs = 50;
inline constexpr std::uint32_t kDefaultViewerProbeIntervalMs = 1000;
inline constexpr std::uint32_t kDefaultOpenTimeoutMs = 100;
inline constexpr std::uint32_t kDefaultReopenIntervalMs = 1000;

// Every member has its own initializer, so designated initializers may name any of them
// (TracerOptions{.mailboxName = "..."}) without -Wmissing-field-initializers.
struct TracerOptions {
    // Empty: the name every process agrees on (QUORVANE_MAILBOX or "QuorvaneTraceMailbox").
    std::string mailboxName{};
    // 0: the agreed slot count (32768).
    std::uint32_t slotCount = 0;
    // Empty: kPresenceMutexName.
    std::string presenceMutexName{};
    // How long a post waits for room in a full ring while a viewer runs.
    std::uint32_t fullRingWaitMs = kDefaultFullRingWaitMs;
    // How long a finding of viewerRunning() is reused; 0 probes every time.
    std::uint32_t viewerProbeIntervalMs = kDefaultViewerProbeIntervalMs;
    // How long opening the mailbox may wait for another process that holds it.
    std::uint32_t openTimeoutMs = kDefaultOpenTimeoutMs;
    // How long tracing stays off after a failed open before the next use tries again.
    std::uint32_t reopenIntervalMs = kDefaultReopenIntervalMs;
};

class QUORVANE_API Tracer {
  public:
    explicit Tracer(TracerOptions options = {});
    Tracer(const Tracer&) = delete;
    Tracer& operator=(const Tracer&) = delete;
    // Closes the mailbox; no post may run on another thread meanwhile.
    ~Tracer();

    // Posts the 732 bytes of `record` unchanged. True when it is in the ring.
    bool post(const TraceRecord& record) noexcept;
    // Posts a record stamped with this thread's sender key, the origin name and the current
    // time. Texts are truncated to their fields; a null text is empty.
    bool postText(std::int32_t depthDelta, const char* entryName, const char* entryText) noexcept;
    // As postText, with a printf-style entry text.
    bool postFormat(std::int32_t depthDelta, const char* entryName, const char* format,
                    ...) noexcept QUORVANE_PRINTF(4, 5);
    bool postFormatV(std::int32_t depthDelta, const char* entryName, const char* format,
                     std::va_list arguments) noexcept;

    // Opens the mailbox unless it is open or a failed open is more recent than
    // reopenIntervalMs; true when it is open.
    bool enabled() noexcept;
    // Why the mailbox could not be opened at the last try: an error number and a sentence
    // naming the mailbox; 0 and "" while tracing works or before the first use.
    std::uint32_t disabledCode() const noexcept;
    const char* disabledReason() const noexcept;

    // True when the presence mutex is held by another process (or another thread); the finding
    // is reused for viewerProbeIntervalMs.
    bool viewerRunning() noexcept;

    std::uint64_t postedCount() const noexcept;
    std::uint64_t droppedCount() const noexcept;
    // How many posts found the ring full and waited for room.
    std::uint64_t fullRingWaitCount() const noexcept;

    const std::string& mailboxName() const noexcept;

    struct State;  // the library's own, opaque here

  private:
    std::unique_ptr<State> m_state;
};

// The sender key of records posted from the calling thread: its kernel thread id unless
// overridden for this thread.
QUORVANE_API std::uint32_t currentSenderKey() noexcept;
QUORVANE_API void setThreadSenderKey(std::uint32_t senderKey) noexcept;
QUORVANE_API void clearThreadSenderKey() noexcept;

// The origin name of records posted from this process: the program's short name unless
// overridden; a null or empty name restores the default. Truncated to 63 bytes.
QUORVANE_API void setOriginName(const char* originName) noexcept;
QUORVANE_API std::string originName();

}  // namespace quorvane
