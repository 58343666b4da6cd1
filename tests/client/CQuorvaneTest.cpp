#include <gtest/gtest.h>

#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <string>
#include <type_traits>

#include "client/CQuorvane.h"

namespace {

void fillPattern(CQuorvane& object, unsigned char seed) {
    auto* bytes = reinterpret_cast<unsigned char*>(&object.record());
    for (std::size_t i = 0; i < kTraceRecordSize; ++i) {
        bytes[i] = static_cast<unsigned char>(seed + i * 7);
    }
}

bool sameRecordBytes(const CQuorvane& a, const CQuorvane& b) {
    return std::memcmp(&a.record(), &b.record(), kTraceRecordSize) == 0;
}

void setTextV(CQuorvane& object, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    object.setEntryTextV(format, arguments);
    va_end(arguments);
}

template <std::size_t Width>
bool tailIsZero(const char (&field)[Width], std::size_t from) {
    for (std::size_t i = from; i < Width; ++i) {
        if (field[i] != '\0') return false;
    }
    return true;
}

TEST(CQuorvaneTest, StaticGettersNameTheSharedConfiguration) {
    EXPECT_EQ(CQuorvane::getMailSlots(), 32768u);
    EXPECT_EQ(CQuorvane::getRegistryBranch(), HKEY_CURRENT_USER);
    EXPECT_STREQ(CQuorvane::getRegistryKey(), "Software\\Quorvane");
    EXPECT_STREQ(CQuorvane::getRegistryValue(), "ViewerRunning");
}

TEST(CQuorvaneTest, RecordBytesFollowTheVirtualTablePointer) {
    static_assert(std::has_virtual_destructor_v<CQuorvane>);
    CQuorvane object;
    const auto offset =
        reinterpret_cast<const char*>(&object.record()) - reinterpret_cast<const char*>(&object);
    EXPECT_EQ(offset, static_cast<std::ptrdiff_t>(sizeof(void*)));
    EXPECT_GE(sizeof(CQuorvane), sizeof(void*) + kTraceRecordSize);

    const CQuorvane zero;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&zero.record());
    for (std::size_t i = 0; i < kTraceRecordSize; ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

TEST(CQuorvaneTest, CopyConstructionAndAssignmentCopyAllRecordBytes) {
    CQuorvane original;
    fillPattern(original, 3);

    const CQuorvane copy(original);
    EXPECT_TRUE(sameRecordBytes(copy, original));

    CQuorvane assigned;
    fillPattern(assigned, 200);
    ASSERT_FALSE(sameRecordBytes(assigned, original));
    assigned = original;
    EXPECT_TRUE(sameRecordBytes(assigned, original));

    // The copy is independent of its source.
    original.setSenderKey(0xFFFFFFFF);
    EXPECT_NE(copy.getSenderKey(), 0xFFFFFFFFu);

    CQuorvane& self = assigned;
    assigned = self;
    fillPattern(original, 3);
    EXPECT_TRUE(sameRecordBytes(assigned, original));

    const CQuorvane fromRecord(original.record());
    EXPECT_TRUE(sameRecordBytes(fromRecord, original));
}

TEST(CQuorvaneTest, TextSettersTruncateToTheFieldAndAlwaysTerminate) {
    CQuorvane object;
    object.setEntryName(std::string(500, 'n').c_str());
    object.setEntryText(std::string(900, 't').c_str());
    object.setOriginName(std::string(100, 'o').c_str());

    EXPECT_EQ(object.getEntryName(), std::string(TraceRecord::kEntryNameSize - 1, 'n'));
    EXPECT_EQ(object.getEntryText(), std::string(TraceRecord::kEntryTextSize - 1, 't'));
    EXPECT_EQ(object.getOriginName(), std::string(TraceRecord::kOriginNameSize - 1, 'o'));
    EXPECT_EQ(object.record().entryName[TraceRecord::kEntryNameSize - 1], '\0');
    EXPECT_EQ(object.record().entryText[TraceRecord::kEntryTextSize - 1], '\0');
    EXPECT_EQ(object.record().originName[TraceRecord::kOriginNameSize - 1], '\0');
    // Truncation leaves the neighbouring fields alone.
    EXPECT_EQ(object.getTimestamp(), 0);
}

TEST(CQuorvaneTest, ShorterTextClearsTheRestOfTheField) {
    CQuorvane object;
    object.setEntryName(std::string(127, 'x').c_str());
    object.setEntryName("ab");
    EXPECT_EQ(object.getEntryName(), "ab");
    EXPECT_TRUE(tailIsZero(object.record().entryName, 2));

    object.setOriginName("origin");
    object.setOriginName(nullptr);
    EXPECT_EQ(object.getOriginName(), "");
    EXPECT_TRUE(tailIsZero(object.record().originName, 0));
}

TEST(CQuorvaneTest, FormattedEntryTextIsTruncatedAndTerminated) {
    CQuorvane object;
    setTextV(object, "%s=%d", "depth", 42);
    EXPECT_EQ(object.getEntryText(), "depth=42");

    setTextV(object, "%s!", std::string(700, 'w').c_str());
    EXPECT_EQ(object.getEntryText(), std::string(TraceRecord::kEntryTextSize - 1, 'w'));

    setTextV(object, "%d", 7);
    EXPECT_EQ(object.getEntryText(), "7");
    EXPECT_TRUE(tailIsZero(object.record().entryText, 1));
}

TEST(CQuorvaneTest, NumericFieldsLandAtTheirRecordOffsets) {
    CQuorvane object;
    object.setTimestamp(0x0102030405060708);
    object.setDepthDelta(-2);
    object.setSenderKey(0xA1B2C3D4);
    EXPECT_EQ(object.getTimestamp(), 0x0102030405060708);
    EXPECT_EQ(object.getDepthDelta(), -2);
    EXPECT_EQ(object.getSenderKey(), 0xA1B2C3D4u);

    const auto* bytes = reinterpret_cast<const unsigned char*>(&object.record());
    std::int64_t timestamp = 0;
    std::int32_t delta = 0;
    std::uint32_t key = 0;
    std::memcpy(&timestamp, bytes + 704, sizeof timestamp);
    std::memcpy(&delta, bytes + 712, sizeof delta);
    std::memcpy(&key, bytes + 724, sizeof key);
    EXPECT_EQ(timestamp, 0x0102030405060708);
    EXPECT_EQ(delta, -2);
    EXPECT_EQ(key, 0xA1B2C3D4u);
}

TEST(CQuorvaneTest, GettersStopAtTheFieldEndWithoutATerminator) {
    CQuorvane object;
    std::memset(object.record().originName, 'z', TraceRecord::kOriginNameSize);
    EXPECT_EQ(object.getOriginName(), std::string(TraceRecord::kOriginNameSize, 'z'));
}

}  // namespace
