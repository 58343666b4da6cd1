#include "client/TraceContext.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "client/CQuorvane.h"
#include "quorvane/Tracer.h"

namespace quorvane {

__attribute__((tls_model("initial-exec"))) thread_local bool t_inTraceCall = false;
__attribute__((tls_model("initial-exec"))) thread_local std::uint32_t t_sequence = 0;

namespace {

thread_local bool t_hasSenderKey = false;
thread_local std::uint32_t t_senderKey = 0;
// The calling thread's id, read once per thread; 0 until then.
thread_local std::uint32_t t_threadId = 0;

// Constant-initialised, so usable from any static constructor or destructor. Each thread keeps
// its own copy of the origin and refreshes it when the generation moves, so stamping a record
// takes no lock.
std::mutex g_originMutex;
char g_originName[TraceRecord::kOriginNameSize] = {};
bool g_originOverridden = false;
std::atomic<std::uint32_t> g_originGeneration{1};
thread_local std::uint32_t t_originGeneration = 0;
thread_local char t_originName[TraceRecord::kOriginNameSize] = {};

}  // namespace

void stampTime(CQuorvane& record, std::uint32_t sequence) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    record.setTimestamp(now.tv_sec);
    record.setPreciseTime(static_cast<std::uint32_t>(now.tv_nsec), sequence);
}

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

void lockOriginForFork() {
    g_originMutex.lock();
}

void unlockOriginAfterFork() {
    g_originMutex.unlock();
}

void forgetThreadIdInChild() {
    t_threadId = 0;
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
    // Counts as a trace call: a handler tracing meanwhile must not wait for the origin's lock.
    const TraceCall call;
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
