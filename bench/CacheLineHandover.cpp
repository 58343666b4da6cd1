#include "bench/CacheLineHandover.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "bench/Processors.h"

namespace {

bool pinThisThread(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

}  // namespace

double cacheLineHandoverNs(int handovers) {
    const std::vector<int> cpus = usableCpus();
    if (cpus.size() < 2 || handovers < 2) return 0;
    cpu_set_t saved;
    if (sched_getaffinity(0, sizeof saved, &saved) != 0) return 0;

    // Odd values are written by this thread, even ones by the partner; each waits for the other's.
    alignas(64) std::atomic<int> counter{0};
    const int rounds = handovers / 2;
    std::atomic<bool> partnerPinned{false};
    std::atomic<bool> partnerFailed{false};
    std::thread partner([&] {
        if (!pinThisThread(cpus[1])) {
            partnerFailed.store(true);
            return;
        }
        partnerPinned.store(true);
        for (int round = 0; round < rounds; ++round) {
            while (counter.load(std::memory_order_acquire) != 2 * round + 1) {
                if (partnerFailed.load(std::memory_order_relaxed)) return;
            }
            counter.store(2 * round + 2, std::memory_order_release);
        }
    });
    double nanoseconds = 0;
    if (pinThisThread(cpus[0])) {
        while (!partnerPinned.load() && !partnerFailed.load()) std::this_thread::yield();
        if (!partnerFailed.load()) {
            const auto start = std::chrono::steady_clock::now();
            for (int round = 0; round < rounds; ++round) {
                counter.store(2 * round + 1, std::memory_order_release);
                while (counter.load(std::memory_order_acquire) != 2 * round + 2) {
                }
            }
            nanoseconds =
                std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
                    .count() /
                (2.0 * rounds);
        }
    } else {
        partnerFailed.store(true);
    }
    partner.join();
    sched_setaffinity(0, sizeof saved, &saved);
    return nanoseconds;
}
