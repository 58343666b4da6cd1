// The registry store's text formats on their own, with no file system.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/RegistryFormat.h"

using quorvane::platform::decodeValue;
using quorvane::platform::encodeValue;
using quorvane::platform::escapeName;

namespace {

std::vector<BYTE> bytesOf(const std::string& text, bool withNul) {
    std::vector<BYTE> bytes(text.begin(), text.end());
    if (withNul) bytes.push_back(0);
    return bytes;
}

TEST(RegistryFormat, EveryTypeRoundTripsThroughOneLine) {
    const DWORD number = 0xDEADBEEF;
    const std::string awkward = std::string("back\\slash\nnew line\x01\x7f tab\t end", 29);
    const std::vector<BYTE> binary = {0x00, 0xFF, 0x10, 0x7F};
    struct Case {
        DWORD type;
        std::vector<BYTE> bytes;
    } cases[] = {
        {REG_DWORD, std::vector<BYTE>(reinterpret_cast<const BYTE*>(&number),
                                      reinterpret_cast<const BYTE*>(&number) + 4)},
        {REG_SZ, bytesOf(awkward, true)},
        {REG_SZ, bytesOf("", true)},
        {REG_BINARY, binary},
        {REG_BINARY, {}},
        {7, binary},  // another type keeps its number
    };
    for (const Case& value : cases) {
        const std::string line =
            encodeValue(value.type, value.bytes.data(), static_cast<DWORD>(value.bytes.size()));
        ASSERT_EQ(line.find('\n'), line.size() - 1) << "one line: " << line;
        const auto decoded = decodeValue(line);
        ASSERT_TRUE(decoded.has_value()) << line;
        EXPECT_EQ(decoded->type, value.type) << line;
        EXPECT_EQ(decoded->bytes, value.bytes) << line;
    }
    EXPECT_EQ(encodeValue(REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4),
              "dword:deadbeef\n");
}

TEST(RegistryFormat, TextsThisStoreDoesNotWriteAreRefused) {
    for (const char* text : {"", "dword:", "dword:123456789", "dword:12g4", "sz:trailing\\",
                             "sz:bad\\q escape", "sz:\\x1", "hex:0", "hex:01,", "hex:01;02",
                             "hex(:00", "hex(7)00", "unknown:1", "sz:two\nlines"}) {
        EXPECT_FALSE(decodeValue(text).has_value()) << text;
    }
}

TEST(RegistryFormat, NamesBecomeOneSafePathComponent) {
    std::string file;
    ASSERT_TRUE(escapeName("Software", file));
    EXPECT_EQ(file, "Software");
    ASSERT_TRUE(escapeName("../up/.hidden", file));
    EXPECT_EQ(file.find('/'), std::string::npos);
    EXPECT_NE(file.front(), '.');
    EXPECT_EQ(file, "%2E.%2Fup%2F.hidden");
    ASSERT_TRUE(escapeName("a.b", file));
    EXPECT_EQ(file, "a.b");
    std::string distinct;
    ASSERT_TRUE(escapeName("%2E", distinct));
    EXPECT_NE(distinct, "%2E") << "an escape character is escaped itself";
    EXPECT_TRUE(escapeName(std::string(255, 'n'), file));
    EXPECT_FALSE(escapeName(std::string(256, 'n'), file));
    EXPECT_FALSE(escapeName(std::string(100, '/'), file)) << "300 bytes once escaped";
}

}  // namespace
