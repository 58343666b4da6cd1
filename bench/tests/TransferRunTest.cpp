#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstring>

#include "bench/BareRingChannel.h"
#include "bench/MailboxChannel.h"
#include "bench/PipeChannel.h"
#include "bench/PosixQueueChannel.h"
#include "bench/TransferRun.h"
#ifdef QUORVANE_BENCH_HAS_BOOST
#include "bench/BoostQueueChannel.h"
#endif

namespace {

constexpr std::uint64_t kRecords = 20'000;
constexpr std::size_t kCapacity = 64;
constexpr std::uint64_t kFaultAt = 100;

std::uint64_t sequenceOf(const void* record) {
    std::uint64_t sequence = 0;
    std::memcpy(&sequence, record, sizeof sequence);
    return sequence;
}

// A pipe whose sender misbehaves once, at record kFaultAt.
enum class Fault { Drop, Swap, Tear, Fail };

class FaultyPipe : public PipeChannel {
  public:
    explicit FaultyPipe(Fault fault) : PipeChannel(kCapacity), m_fault(fault) {}

    bool send(const void* record) override {
        const std::uint64_t sequence = sequenceOf(record);
        if (sequence != kFaultAt && !m_held) return PipeChannel::send(record);
        switch (m_fault) {
            case Fault::Drop:
                return true;
            case Fault::Fail:
                return false;
            case Fault::Tear: {
                std::array<unsigned char, kRecordBytes> torn;
                std::memcpy(torn.data(), record, kRecordBytes);
                stampRecord(torn.data(), sequence + 1);
                std::memcpy(torn.data(), record, sizeof sequence);
                return PipeChannel::send(torn.data());
            }
            case Fault::Swap:
                if (!m_held) {
                    std::memcpy(m_heldRecord.data(), record, kRecordBytes);
                    m_held = true;
                    return true;
                }
                m_held = false;
                return PipeChannel::send(record) && PipeChannel::send(m_heldRecord.data());
        }
        return false;
    }

  private:
    Fault m_fault;
    bool m_held = false;
    std::array<unsigned char, kRecordBytes> m_heldRecord{};
};

void expectEveryRecordInOrder(RecordChannel& channel) {
    const TransferOutcome outcome = runTransfer(channel, kRecords);
    EXPECT_TRUE(outcome.valid) << channel.label() << ": " << outcome.failure;
    EXPECT_EQ(outcome.received, kRecords);
    EXPECT_GT(outcome.recordsPerSecond(), 0.0);
}

TEST(RecordStamp, CarriesTheSequenceAtBothEndsAndSpotsATornRecord) {
    std::array<unsigned char, RecordChannel::kRecordBytes> record{};
    stampRecord(record.data(), 123456789);
    EXPECT_TRUE(recordCarries(record.data(), 123456789));
    EXPECT_FALSE(recordCarries(record.data(), 123456788));
    record[RecordChannel::kRecordBytes - 1] ^= 0x01;
    EXPECT_FALSE(recordCarries(record.data(), 123456789));
}

TEST(TransferRun, PeersCarryEveryRecordInOrderFromAForkedSender) {
    PipeChannel pipeChannel(kCapacity);
    expectEveryRecordInOrder(pipeChannel);
    // The same channel object serves run after run, as in the interleaved rounds.
    expectEveryRecordInOrder(pipeChannel);

    PosixQueueChannel posixQueue(kCapacity);
    if (posixQueue.depth() > 0) {
        expectEveryRecordInOrder(posixQueue);
        expectEveryRecordInOrder(posixQueue);
    }
#ifdef QUORVANE_BENCH_HAS_BOOST
    BoostQueueChannel boostQueue(kCapacity);
    expectEveryRecordInOrder(boostQueue);
    expectEveryRecordInOrder(boostQueue);
#endif
}

TEST(TransferRun, TheBareRingCarriesEveryRecordInOrderThroughAFullRingRunAfterRun) {
    // More records than slots, so that both sides sleep and wake on the counts.
    BareRingChannel bareRing(kCapacity);
    expectEveryRecordInOrder(bareRing);
    expectEveryRecordInOrder(bareRing);
}

TEST(TransferRun, TheMailboxCarriesEveryRecordInOrderUnderAFreshNameEachRun) {
    MailboxChannel mailbox(kCapacity);
    expectEveryRecordInOrder(mailbox);
    expectEveryRecordInOrder(mailbox);
    EXPECT_EQ(mailbox.label(), "CMclMailbox (64 slots)");
}

// A pipe whose sender writes each record in three pieces with pauses, so that the receiver's
// reads return parts of a record.
class PiecewisePipe : public PipeChannel {
  public:
    PiecewisePipe() : PipeChannel(kCapacity) {}
    bool send(const void* record) override {
        const char* bytes = static_cast<const char*>(record);
        const std::size_t cuts[] = {0, 1, 300, kRecordBytes};
        for (std::size_t i = 0; i + 1 < std::size(cuts); ++i) {
            const std::size_t length = cuts[i + 1] - cuts[i];
            if (write(writeDescriptor(), bytes + cuts[i], length) != static_cast<ssize_t>(length)) {
                return false;
            }
            usleep(100);
        }
        return true;
    }
};

TEST(PipeChannel, AReceiveReassemblesARecordThatArrivesInPieces) {
    PiecewisePipe channel;
    const TransferOutcome outcome = runTransfer(channel, 200);
    EXPECT_TRUE(outcome.valid) << outcome.failure;
    EXPECT_EQ(outcome.received, 200u);
}

TEST(TransferRun, ALostReorderedOrTornRecordVoidsTheRun) {
    for (Fault fault : {Fault::Drop, Fault::Swap, Fault::Tear}) {
        FaultyPipe channel(fault);
        const TransferOutcome outcome = runTransfer(channel, kRecords);
        EXPECT_FALSE(outcome.valid);
        EXPECT_EQ(outcome.received, kFaultAt);
        EXPECT_NE(outcome.failure.find("record 100 "), std::string::npos) << outcome.failure;
    }
}

TEST(TransferRun, ASenderThatFailsVoidsTheRun) {
    FaultyPipe channel(Fault::Fail);
    const TransferOutcome outcome = runTransfer(channel, kRecords);
    EXPECT_FALSE(outcome.valid);
    EXPECT_EQ(outcome.received, kFaultAt);
    EXPECT_FALSE(outcome.failure.empty());
}

// A pipe whose sending end cannot be opened in the child.
class UnopenablePipe : public PipeChannel {
  public:
    UnopenablePipe() : PipeChannel(kCapacity) {}
    bool openSender() override { return false; }
};

TEST(TransferRun, ASenderThatCannotOpenItsEndVoidsTheRunBeforeAnyRecord) {
    UnopenablePipe channel;
    const TransferOutcome outcome = runTransfer(channel, kRecords);
    EXPECT_FALSE(outcome.valid);
    EXPECT_EQ(outcome.received, 0u);
    EXPECT_EQ(outcome.failure, "the sender did not get ready");
}

TEST(TransferRun, AChannelThatCannotBeCreatedVoidsTheRunWithItsReason) {
    PosixQueueChannel noQueue(0);
    EXPECT_EQ(noQueue.depth(), 0);
    const TransferOutcome outcome = runTransfer(noQueue, kRecords);
    EXPECT_FALSE(outcome.valid);
    EXPECT_EQ(outcome.received, 0u);
    EXPECT_NE(outcome.failure.find("no POSIX message queue"), std::string::npos) << outcome.failure;
}

TEST(PosixQueueChannel, UsesTheDeepestQueueTheSystemAllowsUpToTheWantedDepth) {
    const long depth = PosixQueueChannel::deepestAllowed(kCapacity);
    EXPECT_GE(depth, 0);
    EXPECT_LE(depth, static_cast<long>(kCapacity));
    if (depth > 0 && depth < static_cast<long>(kCapacity)) {
        EXPECT_EQ(PosixQueueChannel::deepestAllowed(depth), depth);
    }
}

}  // namespace
