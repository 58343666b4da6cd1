#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

#include "tools/common/NumberArgument.h"

namespace {

TEST(NumberArgument, UnsignedTakesBareDigitsInRangeAndRefusesAllElseKeepingTheValue) {
    const std::pair<const char*, std::uint32_t> accepted[] = {
        {"0", 0}, {"42", 42}, {"007", 7}, {"4294967295", 4294967295u}};
    for (const auto& [text, expected] : accepted) {
        std::uint32_t value = 1;
        EXPECT_TRUE(parseUnsigned32(text, value)) << text;
        EXPECT_EQ(value, expected) << text;
    }
    for (const char* text : std::initializer_list<const char*>{
             "", " 5", "5 ", "\t5", "5\n", "+5", "-5", "-0", "4294967296", "99999999999999999999",
             "5x", "0x10", "1 2", nullptr}) {
        std::uint32_t value = 77;
        EXPECT_FALSE(parseUnsigned32(text, value)) << "'" << (text ? text : "(null)") << "'";
        EXPECT_EQ(value, 77u);
    }
}

TEST(NumberArgument, SignedTakesOneSignBeforeDigitsInRangeAndRefusesAllElseKeepingTheValue) {
    const std::pair<const char*, std::int32_t> accepted[] = {{"0", 0},
                                                             {"-5", -5},
                                                             {"+5", 5},
                                                             {"-0", 0},
                                                             {"2147483647", 2147483647},
                                                             {"-2147483648", -2147483647 - 1}};
    for (const auto& [text, expected] : accepted) {
        std::int32_t value = 1;
        EXPECT_TRUE(parseSigned32(text, value)) << text;
        EXPECT_EQ(value, expected) << text;
    }
    for (const char* text : std::initializer_list<const char*>{
             "", " -5", "-5 ", " 5", "- 5", "\t-5", "-", "+", "+-5", "-+5", "--5", "2147483648",
             "-2147483649", "99999999999", "5x", nullptr}) {
        std::int32_t value = 77;
        EXPECT_FALSE(parseSigned32(text, value)) << "'" << (text ? text : "(null)") << "'";
        EXPECT_EQ(value, 77);
    }
}

}  // namespace
