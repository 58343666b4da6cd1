#include "tools/common/OpenMailbox.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "transport/TraceMailbox.h"

namespace {

constexpr auto kQuietWait = std::chrono::seconds(1);

}  // namespace

std::unique_ptr<CMclMailbox> openTraceMailbox(const char* program, DWORD timeoutMs,
                                              const volatile std::sig_atomic_t* stopRequested) {
    const char* const name = traceMailboxName();
    const auto stopping = [stopRequested] {
        return stopRequested != nullptr && *stopRequested != 0;
    };
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    bool announced = false;
    while (!stopping()) {
        DWORD sliceMs = kOpenSliceMs;
        if (timeoutMs != INFINITE) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            sliceMs = static_cast<DWORD>(std::clamp<long long>(left.count(), 0, kOpenSliceMs));
        }
        TraceMailboxOpening opening = openTraceMailbox(sliceMs, name);
        if (opening) return std::move(opening.mailbox);
        const auto now = std::chrono::steady_clock::now();
        if (opening.code != ERROR_TIMEOUT || (timeoutMs != INFINITE && now >= deadline)) {
            std::fprintf(stderr, "%s: %s\n", program, opening.reason.c_str());
            return nullptr;
        }
        if (!announced && now - start >= kQuietWait && !stopping()) {
            std::fprintf(stderr, "%s: waiting: %s\n", program, opening.reason.c_str());
            announced = true;
        }
    }
    return nullptr;
}
