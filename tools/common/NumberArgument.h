#pragma once
#include <cstdint>

// Strict decimal parsing for command-line numbers: the whole text must be the number, in range,
// with no blanks around it. An unsigned number takes no sign; a signed one takes '+' or '-'.
bool parseUnsigned32(const char* text, std::uint32_t& value);
bool parseSigned32(const char* text, std::int32_t& value);
