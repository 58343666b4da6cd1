#pragma once
#include <cstddef>
#include <cstring>
#include <string_view>

// Text fields of a trace record: fixed width, NUL-terminated when written here, possibly not
// when written by another program.

// Copies `text` (null: empty) into `field`, cut to its width less one, zeroing the rest.
template <std::size_t Width>
void setRecordField(char (&field)[Width], const char* text) {
    const std::size_t length = text == nullptr ? 0 : strnlen(text, Width - 1);
    if (length > 0) std::memcpy(field, text, length);
    std::memset(field + length, 0, Width - length);
}

// The text of `field`, never reading past it.
template <std::size_t Width>
std::string_view recordFieldText(const char (&field)[Width]) {
    return std::string_view(field, strnlen(field, Width));
}
