#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "bench/RecordChannel.h"

// What one transfer run measured. A run that lost, duplicated, reordered or tore a record, or
// whose sender failed, is void: `valid` is false and `failure` says what went wrong.
struct TransferOutcome {
    bool valid = false;
    std::uint64_t received = 0;
    double seconds = 0.0;
    std::string failure;

    double recordsPerSecond() const { return seconds > 0.0 ? received / seconds : 0.0; }
};

// Where the sender and the receiver run: wherever the scheduler puts them, both pinned to one
// core, or pinned to two different cores.
enum class Placement { Unpinned, OneCore, TwoCores };
const char* placementName(Placement placement);
// Whether this machine allows `placement` (two cores need two usable processors).
bool placementPossible(Placement placement);

// Moves `recordCount` records through `channel` from a forked sender to this process. Each record
// carries its sequence number in its first and last eight bytes; the receiver checks both. The
// clock runs from the moment the ready sender is told to start until the last record is in.
TransferOutcome runTransfer(RecordChannel& channel, std::uint64_t recordCount,
                            Placement placement = Placement::Unpinned);

// Idle latency: the sender sends one record every `intervalUs` microseconds carrying the time it
// was sent; the receiver notes how long after that its receive returned. Nanoseconds, one per
// record, empty when the run failed (`failure` then says why).
std::vector<double> runLatency(RecordChannel& channel, std::uint64_t recordCount,
                               unsigned intervalUs, std::string& failure);

// Writes `sequence` into the first and last eight bytes of a record.
void stampRecord(unsigned char* record, std::uint64_t sequence);
// Whether a record carries `sequence` at both ends.
bool recordCarries(const unsigned char* record, std::uint64_t sequence);
