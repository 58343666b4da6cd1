#include "tools/common/NumberArgument.h"

#include <charconv>
#include <cstring>
#include <system_error>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The whole of [first, last) must be one number in range: from_chars skips no blanks and
// reports overflow.
template <typename Integer>
bool parseWhole(const char* first, const char* last, Integer& value) {
    Integer parsed = 0;
    const std::from_chars_result result = std::from_chars(first, last, parsed);
    if (result.ec != std::errc{} || result.ptr != last) return false;
    value = parsed;
    return true;
}

}  // namespace

bool parseUnsigned32(const char* text, std::uint32_t& value) {
    if (text == nullptr || !isDigit(*text)) return false;
    return parseWhole(text, text + std::strlen(text), value);
}

bool parseSigned32(const char* text, std::int32_t& value) {
    if (text == nullptr) return false;
    const bool hasSign = *text == '+' || *text == '-';
    if (!isDigit(text[hasSign ? 1 : 0])) return false;
    const char* first = *text == '+' ? text + 1 : text;  // from_chars takes '-' but not '+'
    return parseWhole(first, first + std::strlen(first), value);
}
