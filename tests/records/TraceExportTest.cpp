#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "records/TraceExport.h"

namespace {

// Bytes that cannot go into a JSON string as they are, each with what must stand for it.
const std::vector<std::pair<std::string, std::string>>& specialBytes() {
    static const std::vector<std::pair<std::string, std::string>> bytes = {
        {"\"", "\\\""},           {"\\", "\\\\"},      {"\x01", "\\u0001"},
        {"\x1f", "\\u001f"},      {"\x7f", "\\u007f"}, {"\xe9", "\xc3\xa9"},  // Latin-1 "é"
        {"\xc3\xa9", "\xc3\xa9"},                                             // UTF-8 "é" as it is
    };
    return bytes;
}

// Text is scanned in blocks, with the last bytes in a block that overlaps the one before; a
// special byte anywhere, alone or followed by another, must come out escaped.
TEST(JsonText, EverySpecialByteIsEscapedAtEveryPositionOfTextsOfEveryLength) {
    for (std::size_t length = 1; length <= 40; ++length) {
        for (std::size_t first = 0; first < length; ++first) {
            for (std::size_t second = first; second <= length; ++second) {
                for (std::size_t kind = 0; kind < specialBytes().size(); ++kind) {
                    const auto& [byte, escaped] = specialBytes()[kind];
                    // A second special byte of another kind after the first, or none.
                    const auto& [next, nextEscaped] =
                        specialBytes()[(kind + 1) % specialBytes().size()];
                    const bool two = second > first && second < length;
                    std::string text;
                    std::string expected;
                    for (std::size_t at = 0; at < length; ++at) {
                        const char plain = static_cast<char>('a' + at % 26);
                        text += at == first           ? byte
                                : two && at == second ? next
                                                      : std::string(1, plain);
                        expected += at == first           ? escaped
                                    : two && at == second ? nextEscaped
                                                          : std::string(1, plain);
                    }
                    std::string out = "x";
                    appendJsonText(text, out);
                    ASSERT_EQ(out, "x" + expected)
                        << "length " << length << ", byte " << kind << " at " << first
                        << (two ? ", then another at " + std::to_string(second) : "");
                }
            }
        }
    }
}

}  // namespace
