// Transport benchmark: one sender process to one receiver process, records of 732 bytes,
// through CMclMailbox and through three peers, interleaved round by round.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

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

struct Contender {
    std::unique_ptr<RecordChannel> channel;
    std::string resultName;  // empty for peers without a target
    Samples rates;
    std::vector<std::string> failures;
};

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
    const int rounds = static_cast<int>(environmentNumber("QUORVANE_BENCH_ROUNDS", kDefaultRounds));

    std::vector<Contender> contenders;
    contenders.push_back({std::make_unique<MailboxChannel>(kSlotCount), "", {}, {}});
#ifdef QUORVANE_BENCH_HAS_BOOST
    if (peerWanted("boost")) {
        contenders.push_back(
            {std::make_unique<BoostQueueChannel>(kSlotCount), "transport_vs_boost", {}, {}});
    }
#endif
    if (peerWanted("mq")) {
        contenders.push_back({std::make_unique<PosixQueueChannel>(kSlotCount), "", {}, {}});
    }
    if (peerWanted("pipe")) {
        contenders.push_back(
            {std::make_unique<PipeChannel>(kSlotCount), "transport_vs_pipe", {}, {}});
    }

    Samples copies;
    for (int round = 0; round < rounds; ++round) {
        for (Contender& contender : contenders) {
            const TransferOutcome outcome = runTransfer(*contender.channel, recordCount);
            if (outcome.valid) {
                contender.rates.add(outcome.recordsPerSecond());
            } else {
                contender.failures.push_back("round " + std::to_string(round + 1) + ": " +
                                             outcome.failure);
            }
        }
        copies.add(copyRate(recordCount));
    }

    BenchReport report;
    if (!quietMachine(argc, argv)) report.machine();
    report.section("transport: 1 sender process -> 1 receiver process, " +
                   std::to_string(recordCount) + " records of 732 bytes, " +
                   std::to_string(rounds) + " interleaved rounds, records/s");
    const Contender& ours = contenders.front();
    for (std::size_t i = 1; i < contenders.size(); ++i) {
        const Contender& peer = contenders[i];
        report.comparison(ours.channel->label(), ours.rates, peer.channel->label(), peer.rates,
                          Unit::PerSecond);
    }
    report.comparison(ours.channel->label(), ours.rates, "memcpy 732 B in one process (bound)",
                      copies, Unit::PerSecond);
#ifndef QUORVANE_BENCH_HAS_BOOST
    report.note("boost::interprocess not found at configure time: the Boost peer was skipped");
#endif
    for (const Contender& contender : contenders) {
        for (const std::string& failure : contender.failures) {
            report.note("void run of " + contender.channel->label() + ", " + failure);
        }
    }
    for (std::size_t i = 1; i < contenders.size(); ++i) {
        const Contender& peer = contenders[i];
        if (peer.resultName.empty()) continue;
        report.result(resultLine(peer.resultName, ours.rates.median(), peer.rates.median(),
                                 kTargetRatio, Better::Higher));
    }
    report.finish();
    return 0;
}
