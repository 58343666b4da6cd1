#include "quorvane/Tracer.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <vector>

#include "client/CQuorvane.h"
#include "client/TraceContext.h"
#include "platform/posix/CancellationOff.h"
#include "transport/CMclMailbox.h"
#include "transport/TraceMailbox.h"

namespace quorvane {

namespace {

// The first attempt of a post may wait this long: enough to get past a receiver that holds the
// ring's guard at that instant, far too short to count as waiting for room.
constexpr DWORD kGuardGraceMs = 1;

// A viewer holds the presence mutex for as long as it runs. Opening it without creating it is
// not possible, so a mutex that did not exist is created and closed again at once.
bool probePresence(const char* name) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    if (mutex == nullptr) return false;
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    const DWORD wait = WaitForSingleObject(mutex, 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ReleaseMutex(mutex);
    CloseHandle(mutex);
    return wait == WAIT_TIMEOUT;
}

TracerOptions resolved(TracerOptions options) {
    if (options.mailboxName.empty()) options.mailboxName = CQuorvane::getMailboxName();
    if (options.slotCount == 0) options.slotCount = CQuorvane::getMailSlots();
    if (options.presenceMutexName.empty()) options.presenceMutexName = kPresenceMutexName;
    return options;
}

}  // namespace

struct Tracer::State {
    explicit State(TracerOptions tracerOptions) : options(resolved(std::move(tracerOptions))) {}

    // Opens the mailbox unless it is open or the last failure is too recent. Threads arriving
    // during an open wait for it: it is bounded by openTimeoutMs.
    bool ensureOpen() noexcept {
        if (isOpen.load(std::memory_order_acquire)) return true;
        if (steadyNowMs() < nextAttemptMs.load(std::memory_order_relaxed)) return false;
        // Opening reaches cancellation points (files, sleeps); this call must not unwind.
        const platform::CancellationOff cancellationOff;
        try {
            std::lock_guard lock(openMutex);
            if (isOpen.load(std::memory_order_relaxed)) return true;
            if (steadyNowMs() < nextAttemptMs.load(std::memory_order_relaxed)) return false;
            open();
            if (!isOpen.load(std::memory_order_relaxed))
                nextAttemptMs.store(steadyNowMs() + options.reopenIntervalMs,
                                    std::memory_order_relaxed);
        } catch (...) {
            return false;
        }
        return isOpen.load(std::memory_order_acquire);
    }

    void open() noexcept {
        TraceMailboxOpening opening =
            openTraceMailbox(options.openTimeoutMs, options.mailboxName.c_str(), options.slotCount);
        if (!opening) {
            disable(opening.code, opening.reason);
            return;
        }
        mailbox = std::move(opening.mailbox);
        disabledCode.store(ERROR_SUCCESS, std::memory_order_release);
        isOpen.store(true, std::memory_order_release);
    }

    void disable(DWORD code, const std::string& sentence) noexcept {
        // A fixed buffer, so that a pointer handed out by disabledReason() stays valid.
        const std::size_t length = std::min(sentence.size(), sizeof reason - 1);
        std::memcpy(reason, sentence.data(), length);
        reason[length] = '\0';
        disabledCode.store(code, std::memory_order_release);
    }

    static std::int64_t steadyNowMs() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    bool viewerRunning() {
        const platform::CancellationOff cancellationOff;
        std::lock_guard lock(probeMutex);
        const auto now = std::chrono::steady_clock::now();
        if (!probed || now - probedAt >= std::chrono::milliseconds(options.viewerProbeIntervalMs)) {
            viewerSeen = probePresence(options.presenceMutexName.c_str());
            probedAt = now;
            probed = true;
        }
        return viewerSeen;
    }

    // While dropping, a post only looks for room; after a drop no post waits again until one
    // has found room, so a stalled viewer slows the program down once, not per record.
    bool postRecord(const TraceRecord& record) {
        const bool wasDropping = dropping.load(std::memory_order_relaxed);
        if (mailbox->post(&record, wasDropping ? 0 : kGuardGraceMs)) return succeeded();
        if (!wasDropping && viewerRunning()) {
            fullRingWaits.fetch_add(1, std::memory_order_relaxed);
            if (mailbox->post(&record, options.fullRingWaitMs)) return succeeded();
        }
        if (!wasDropping) dropping.store(true, std::memory_order_relaxed);
        dropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }

    bool postCatching(const TraceRecord& record) noexcept {
        try {
            return postRecord(record);
        } catch (...) {
            return false;
        }
    }

    // A call that interrupted a trace call of its own thread (from a signal handler).
    bool dropInterrupting() noexcept {
        dropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }

    // While dropping into a full ring, a record is dropped before it is even made.
    bool dropsAtOnce() noexcept {
        if (!dropping.load(std::memory_order_relaxed) || mailbox->hasFreeSlot()) return false;
        dropped.fetch_add(1, std::memory_order_relaxed);
        return true;
    }

    bool succeeded() {
        if (dropping.load(std::memory_order_relaxed))
            dropping.store(false, std::memory_order_relaxed);
        posted.fetch_add(1, std::memory_order_relaxed);
        return true;
    }

    const TracerOptions options;

    std::mutex openMutex;
    std::unique_ptr<CMclMailbox> mailbox;
    std::atomic<bool> isOpen{false};
    std::atomic<std::int64_t> nextAttemptMs{0};
    char reason[512] = {};
    std::atomic<DWORD> disabledCode{ERROR_SUCCESS};

    std::atomic<bool> dropping{false};
    std::atomic<std::uint64_t> posted{0};
    std::atomic<std::uint64_t> dropped{0};
    std::atomic<std::uint64_t> fullRingWaits{0};

    std::mutex probeMutex;
    bool probed = false;
    bool viewerSeen = false;
    std::chrono::steady_clock::time_point probedAt;
};

namespace {

// Every live tracer's state, so that fork() can wait for their locks: a child must not start with
// a lock held by a thread it does not have. Never destroyed: static tracers leave it last.
struct LiveTracers {
    std::mutex mutex;
    std::vector<Tracer::State*> states;
};

LiveTracers& liveTracers() {
    static auto* const tracers = new LiveTracers;
    return *tracers;
}

// Before a fork the tracers' locks are taken in the order calls take them (a tracer's open or
// probe first, the platform's inside it), then the origin's; both processes let them go after.
void lockTracersForFork() {
    LiveTracers& tracers = liveTracers();
    tracers.mutex.lock();
    for (Tracer::State* state : tracers.states) {
        state->openMutex.lock();
        state->probeMutex.lock();
    }
    lockOriginForFork();
}

void unlockTracersAfterFork() {
    LiveTracers& tracers = liveTracers();
    unlockOriginAfterFork();
    for (Tracer::State* state : tracers.states) {
        state->probeMutex.unlock();
        state->openMutex.unlock();
    }
    tracers.mutex.unlock();
}

// The platform's handlers are registered first, so that at fork these run before them.
[[maybe_unused]] const int g_forkHandlers = [] {
    RegisterForkHandlers();
    return ::pthread_atfork(lockTracersForFork, unlockTracersAfterFork, [] {
        forgetThreadIdInChild();
        unlockTracersAfterFork();
    });
}();

}  // namespace

Tracer::Tracer(TracerOptions options) : m_state(std::make_unique<State>(std::move(options))) {
    LiveTracers& tracers = liveTracers();
    std::lock_guard lock(tracers.mutex);
    tracers.states.push_back(m_state.get());
}

Tracer::~Tracer() {
    LiveTracers& tracers = liveTracers();
    std::lock_guard lock(tracers.mutex);
    std::erase(tracers.states, m_state.get());
}

bool Tracer::enabled() noexcept {
    const TraceCall call;
    // A handler that interrupted this thread's own open must not wait for it.
    if (call.interrupts()) return m_state->isOpen.load(std::memory_order_acquire);
    return m_state->ensureOpen();
}

std::uint32_t Tracer::disabledCode() const noexcept {
    return m_state->disabledCode.load(std::memory_order_acquire);
}

const char* Tracer::disabledReason() const noexcept {
    return disabledCode() == ERROR_SUCCESS ? "" : m_state->reason;
}

bool Tracer::post(const TraceRecord& record) noexcept {
    const TraceCall call;
    if (call.interrupts()) return m_state->dropInterrupting();
    if (!m_state->ensureOpen()) return false;
    return m_state->postCatching(record);
}

bool Tracer::postText(std::int32_t depthDelta, const char* entryName,
                      const char* entryText) noexcept {
    const TraceCall call;
    const std::uint32_t sequence = ++t_sequence;
    if (call.interrupts()) return m_state->dropInterrupting();
    if (!m_state->ensureOpen() || m_state->dropsAtOnce()) return false;
    try {
        // Every field is set below, so the record is not zeroed first.
        CQuorvane record{CQuorvane::EveryFieldSet{}};
        record.setEntryName(entryName);
        record.setEntryText(entryText);
        record.setDepthDelta(depthDelta);
        record.setSenderKey(currentSenderKey());
        stampTime(record, sequence);
        stampOrigin(record);
        return m_state->postCatching(record.record());
    } catch (...) {
        return false;
    }
}

bool Tracer::postFormat(std::int32_t depthDelta, const char* entryName, const char* format,
                        ...) noexcept {
    std::va_list arguments;
    va_start(arguments, format);
    const bool posted = postFormatV(depthDelta, entryName, format, arguments);
    va_end(arguments);
    return posted;
}

bool Tracer::postFormatV(std::int32_t depthDelta, const char* entryName, const char* format,
                         std::va_list arguments) noexcept {
    const TraceCall call;
    const std::uint32_t sequence = ++t_sequence;
    if (call.interrupts()) return m_state->dropInterrupting();
    if (!m_state->ensureOpen() || m_state->dropsAtOnce()) return false;
    try {
        // Every field is set below, so the record is not zeroed first.
        CQuorvane record{CQuorvane::EveryFieldSet{}};
        record.setEntryName(entryName);
        record.setEntryTextV(format, arguments);
        record.setDepthDelta(depthDelta);
        record.setSenderKey(currentSenderKey());
        stampTime(record, sequence);
        stampOrigin(record);
        return m_state->postCatching(record.record());
    } catch (...) {
        return false;
    }
}

bool Tracer::viewerRunning() noexcept {
    const TraceCall call;
    if (call.interrupts()) return m_state->viewerSeen;
    try {
        return m_state->viewerRunning();
    } catch (...) {
        return false;
    }
}

std::uint64_t Tracer::postedCount() const noexcept {
    return m_state->posted.load(std::memory_order_relaxed);
}

std::uint64_t Tracer::droppedCount() const noexcept {
    return m_state->dropped.load(std::memory_order_relaxed);
}

std::uint64_t Tracer::fullRingWaitCount() const noexcept {
    return m_state->fullRingWaits.load(std::memory_order_relaxed);
}

const std::string& Tracer::mailboxName() const noexcept {
    return m_state->options.mailboxName;
}

}  // namespace quorvane
