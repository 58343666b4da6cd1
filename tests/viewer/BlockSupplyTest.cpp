#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "viewer/lines/BlockSupply.h"

namespace {

constexpr std::size_t kBlockSize = std::size_t{1} << 20;

// Waits up to a few seconds for the supply's thread to have a block ready.
bool becomesReady(const BlockSupply& supply) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (supply.bytesHeld() == 0 && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return supply.bytesHeld() == kBlockSize;
}

// Pages of [bytes, bytes + size) that are not resident.
std::size_t absentPages(const char* bytes, std::size_t size) {
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(bytes) / page * page;
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(bytes) + size;
    std::vector<unsigned char> resident((end - first + page - 1) / page);
    if (::mincore(reinterpret_cast<void*>(first), end - first, resident.data()) != 0) {
        return resident.size();
    }
    std::size_t absent = 0;
    for (const unsigned char flags : resident) {
        absent += (flags & 1) == 0 ? 1 : 0;
    }
    return absent;
}

TEST(BlockSupply, AfterATakeTheNextBlockIsMadeResidentAheadAndReleaseFreesIt) {
    BlockSupply supply(kBlockSize);
    EXPECT_EQ(supply.bytesHeld(), 0u) << "nothing is made before the first take";
    const std::unique_ptr<char[]> first = supply.take();
    std::memset(first.get(), 'a', kBlockSize);
    ASSERT_TRUE(becomesReady(supply));

    const std::unique_ptr<char[]> second = supply.take();
    EXPECT_EQ(absentPages(second.get(), kBlockSize), 0u);
    std::memset(second.get(), 'b', kBlockSize);
    EXPECT_EQ(first[kBlockSize - 1], 'a') << "blocks do not overlap";
    ASSERT_TRUE(becomesReady(supply));

    supply.release();
    EXPECT_EQ(supply.bytesHeld(), 0u);
    // A take after a release works as before, whether or not a block is ready.
    const std::unique_ptr<char[]> third = supply.take();
    std::memset(third.get(), 'c', kBlockSize);
    EXPECT_EQ(second[0], 'b');
}

}  // namespace
