// Transport benchmark: one sender process to one receiver process, records of 732 bytes,
// through CMclMailbox, through three peers and through the mailbox's bare protocol, interleaved
// round by round, with both processes pinned to one core, pinned to two cores and left to the
// scheduler; then the idle latency of one record per millisecond.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bench/BareRingChannel.h"
#include "bench/BenchReport.h"
#include "bench/MailboxChannel.h"
#include "bench/PipeChannel.h"
#include "bench/PosixQueueChannel.h"
#include "bench/TransferRun.h"
#ifdef QUORVANE_BENCH_HAS_BOOST
#include "bench/BoostQueueChannel.h"
#endif

namespace {

constexpr std::uint64_t kDefaultRecordCount = 2'000'000;
constexpr int kDefaultRounds = 5;
constexpr unsigned kSlotCount = 1024;
constexpr double kTargetRatio = 1.5;
constexpr std::size_t kCopyRingSlots = kSlotCount;

constexpr std::uint64_t kDefaultLatencyRecords = 1000;
constexpr unsigned kLatencyIntervalUs = 1000;
constexpr double kLatencyTarget = 1.0;
constexpr Placement kPlacements[] = {Placement::OneCore, Placement::TwoCores, Placement::Unpinned};
constexpr std::size_t kPlacementCount = std::size(kPlacements);

struct Contender {
    std::unique_ptr<RecordChannel> channel;
    std::string resultName;  // empty for peers without a target
    Samples rates[kPlacementCount];
    std::vector<std::string> failures;
    std::vector<double> latencies;  // every round's, pooled
};

// The value below which `share` of the sorted `values` lie.
double percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
    return values[index];
}

std::string resultSuffix(Placement placement) {
    switch (placement) {
        case Placement::OneCore:
            return "_one_core";
        case Placement::TwoCores:
            return "_two_cores";
        case Placement::Unpinned:
            break;
    }
    return "_unpinned";
}

volatile std::uint64_t g_sink;

// QUORVANE_BENCH_PEERS (a list such as "boost,pipe") limits the peers run beside the mailbox;
// unset, all of them run.
bool peerWanted(const std::string& key) {
    const char* peers = std::getenv("QUORVANE_BENCH_PEERS");
    if (peers == nullptr || *peers == '\0') return true;
    return ("," + std::string(peers) + ",").find("," + key + ",") != std::string::npos;
}

// Stores a result where the compiler must assume it is read, so the work is not dropped.
void keepValue(std::uint64_t value) {
    g_sink = value;
}

// The bound: one 732-byte block copy per record from a ring of slots, in one process.
double copyRate(std::uint64_t recordCount) {
    std::vector<unsigned char> ring(kCopyRingSlots * RecordChannel::kRecordBytes, 0x5a);
    unsigned char destination[RecordChannel::kRecordBytes];
    std::uint64_t checksum = 0;
    const auto start = std::chrono::steady_clock::now();
    for (std::uint64_t i = 0; i < recordCount; ++i) {
        unsigned char* slot = ring.data() + (i % kCopyRingSlots) * RecordChannel::kRecordBytes;
        slot[0] = static_cast<unsigned char>(i);
        std::memcpy(destination, slot, RecordChannel::kRecordBytes);
        // Reading the copy keeps the compiler from dropping it.
        checksum += destination[i % RecordChannel::kRecordBytes];
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    keepValue(checksum);
    return recordCount / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t recordCount =
        environmentNumber("QUORVANE_BENCH_RECORDS", kDefaultRecordCount);
    const int rounds = benchRounds(kDefaultRounds);

    std::vector<Contender> contenders;
    contenders.push_back({std::make_unique<MailboxChannel>(kSlotCount), "", {}, {}, {}});
#ifdef QUORVANE_BENCH_HAS_BOOST
    if (peerWanted("boost")) {
        contenders.push_back(
            {std::make_unique<BoostQueueChannel>(kSlotCount), "transport_vs_boost", {}, {}, {}});
    }
#endif
    // Not a peer a user could pick: the floor of the mailbox's own protocol.
    if (peerWanted("bare")) {
        contenders.push_back({std::make_unique<BareRingChannel>(kSlotCount), "", {}, {}, {}});
    }
    if (peerWanted("mq")) {
        contenders.push_back({std::make_unique<PosixQueueChannel>(kSlotCount), "", {}, {}, {}});
    }
    if (peerWanted("pipe")) {
        contenders.push_back(
            {std::make_unique<PipeChannel>(kSlotCount), "transport_vs_pipe", {}, {}, {}});
    }

    const std::uint64_t latencyRecords =
        environmentNumber("QUORVANE_BENCH_LATENCY_RECORDS", kDefaultLatencyRecords);
    Samples copies;
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t where = 0; where < kPlacementCount; ++where) {
            if (!placementPossible(kPlacements[where])) continue;
            for (Contender& contender : contenders) {
                const TransferOutcome outcome =
                    runTransfer(*contender.channel, recordCount, kPlacements[where]);
                if (outcome.valid) {
                    contender.rates[where].add(outcome.recordsPerSecond());
                } else {
                    contender.failures.push_back("round " + std::to_string(round + 1) + ", " +
                                                 placementName(kPlacements[where]) + ": " +
                                                 outcome.failure);
                }
            }
        }
        for (Contender& contender : contenders) {
            std::string failure;
            const std::vector<double> latencies =
                runLatency(*contender.channel, latencyRecords, kLatencyIntervalUs, failure);
            if (!failure.empty())
                contender.failures.push_back("round " + std::to_string(round + 1) +
                                             ", latency: " + failure);
            contender.latencies.insert(contender.latencies.end(), latencies.begin(),
                                       latencies.end());
        }
        copies.add(copyRate(recordCount));
    }

    BenchReport report(argc, argv);
    const Contender& ours = contenders.front();
    for (std::size_t where = 0; where < kPlacementCount; ++where) {
        const Placement placement = kPlacements[where];
        if (!placementPossible(placement)) {
            report.note(std::string("no ") + placementName(placement) + " run: one processor only");
            continue;
        }
        report.section(std::string("transport, ") + placementName(placement) +
                       ": 1 sender process -> 1 receiver process, " + std::to_string(recordCount) +
                       " records of 732 bytes, " + std::to_string(rounds) +
                       " interleaved rounds, records/s");
        for (std::size_t i = 1; i < contenders.size(); ++i) {
            const Contender& peer = contenders[i];
            report.comparison(ours.channel->label(), ours.rates[where], peer.channel->label(),
                              peer.rates[where], Unit::PerSecond);
        }
        for (std::size_t i = 1; i < contenders.size(); ++i) {
            const Contender& peer = contenders[i];
            if (peer.resultName.empty()) continue;
            report.result(resultLine(peer.resultName + resultSuffix(placement),
                                     ours.rates[where].median(), peer.rates[where].median(),
                                     kTargetRatio, Better::Higher));
        }
    }
    report.section("transport bound: one 732-byte memcpy per record in one process, records/s");
    report.single("memcpy 732 B in one process", copies, Unit::PerSecond);

    report.section("idle latency: one record per " + std::to_string(kLatencyIntervalUs) +
                   " us, post to receive returning, " + std::to_string(latencyRecords) +
                   " records x " + std::to_string(rounds) + " rounds, unpinned");
    for (const Contender& contender : contenders) {
        Samples p50;
        Samples p99;
        p50.add(percentile(contender.latencies, 0.5) / 1000.0);
        p99.add(percentile(contender.latencies, 0.99) / 1000.0);
        report.note(contender.channel->label() + ": p50 " + plainNumber(p50.median()) +
                    " us, p99 " + plainNumber(p99.median()) + " us");
    }
    // The latency target is Boost's queue, the peer a user would otherwise pick for this.
    for (std::size_t i = 1; i < contenders.size(); ++i) {
        const Contender& peer = contenders[i];
        if (peer.resultName != "transport_vs_boost") continue;
        report.result(resultLine("latency_p99_vs_boost", percentile(ours.latencies, 0.99) / 1000.0,
                                 percentile(peer.latencies, 0.99) / 1000.0, kLatencyTarget,
                                 Better::Lower));
    }
#ifndef QUORVANE_BENCH_HAS_BOOST
    report.note("boost::interprocess not found at configure time: the Boost peer was skipped");
#endif
    for (const Contender& contender : contenders) {
        for (const std::string& failure : contender.failures) {
            report.note("void run of " + contender.channel->label() + ", " + failure);
        }
    }
    report.finish();
    return 0;
}
