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

#include "client/CQuorvane.h"
#include "transport/CMclMailbox.h"
#include "transport/TraceMailbox.h"

namespace quorvane {

namespace {

// The first attempt of a post may wait this long: enough to get past a receiver that holds the
// ring's guard at that instant, far too short to count as waiting for room.
constexpr DWORD kGuardGraceMs = 1;

thread_local bool t_hasSenderKey = false;
thread_local std::uint32_t t_senderKey = 0;
// The calling thread's id, read once per thread; 0 until then.
thread_local std::uint32_t t_threadId = 0;

// A forked child's thread has a new id.
[[maybe_unused]] const int g_forkHook = ::pthread_atfork(nullptr, nullptr, [] { t_threadId = 0; });

// Constant-initialised, so usable from any static constructor or destructor. Each thread keeps
// its own copy of the origin and refreshes it when the generation moves, so stamping a record
// takes no lock.
std::mutex g_originMutex;
char g_originName[TraceRecord::kOriginNameSize] = {};
bool g_originOverridden = false;
std::atomic<std::uint32_t> g_originGeneration{1};
thread_local std::uint32_t t_originGeneration = 0;
thread_local char t_originName[TraceRecord::kOriginNameSize] = {};

void stampOrigin(CQuorvane& record) {
    const std::uint32_t generation = g_originGeneration.load(std::memory_order_acquire);
    if (generation != t_originGeneration) {
        std::lock_guard lock(g_originMutex);
        const char* name = g_originOverridden ? g_originName : program_invocation_short_name;
        const std::size_t length = strnlen(name, sizeof t_originName - 1);
        std::memcpy(t_originName, name, length);
        t_originName[length] = '\0';
        t_originGeneration = g_originGeneration.load(std::memory_order_relaxed);
    }
    record.setOriginName(t_originName);
}

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

Tracer::Tracer(TracerOptions options) : m_state(std::make_unique<State>(std::move(options))) {}

Tracer::~Tracer() = default;

bool Tracer::enabled() noexcept {
    return m_state->ensureOpen();
}

std::uint32_t Tracer::disabledCode() const noexcept {
    return m_state->disabledCode.load(std::memory_order_acquire);
}

const char* Tracer::disabledReason() const noexcept {
    return disabledCode() == ERROR_SUCCESS ? "" : m_state->reason;
}

bool Tracer::post(const TraceRecord& record) noexcept {
    if (!enabled()) return false;
    try {
        return m_state->postRecord(record);
    } catch (...) {
        return false;
    }
}

bool Tracer::postText(std::int32_t depthDelta, const char* entryName,
                      const char* entryText) noexcept {
    if (!enabled() || m_state->dropsAtOnce()) return false;
    try {
        CQuorvane record;
        record.setEntryName(entryName);
        record.setEntryText(entryText);
        record.setDepthDelta(depthDelta);
        record.setSenderKey(currentSenderKey());
        record.setTimestamp(std::time(nullptr));
        stampOrigin(record);
        return post(record.record());
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
    if (!enabled() || m_state->dropsAtOnce()) return false;
    try {
        CQuorvane record;
        record.setEntryName(entryName);
        record.setEntryTextV(format, arguments);
        record.setDepthDelta(depthDelta);
        record.setSenderKey(currentSenderKey());
        record.setTimestamp(std::time(nullptr));
        stampOrigin(record);
        return post(record.record());
    } catch (...) {
        return false;
    }
}

bool Tracer::viewerRunning() noexcept {
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

std::uint32_t currentSenderKey() noexcept {
    if (t_hasSenderKey) return t_senderKey;
    if (t_threadId == 0) t_threadId = static_cast<std::uint32_t>(gettid());
    return t_threadId;
}

void setThreadSenderKey(std::uint32_t senderKey) noexcept {
    t_senderKey = senderKey;
    t_hasSenderKey = true;
}

void clearThreadSenderKey() noexcept {
    t_hasSenderKey = false;
}

void setOriginName(const char* name) noexcept {
    std::lock_guard lock(g_originMutex);
    g_originOverridden = name != nullptr && name[0] != '\0';
    const std::size_t length = g_originOverridden ? strnlen(name, sizeof g_originName - 1) : 0;
    std::memcpy(g_originName, name == nullptr ? "" : name, length);
    g_originName[length] = '\0';
    g_originGeneration.fetch_add(1, std::memory_order_release);
}

std::string originName() {
    std::lock_guard lock(g_originMutex);
    return g_originOverridden ? g_originName : program_invocation_short_name;
}

}  // namespace quorvane
