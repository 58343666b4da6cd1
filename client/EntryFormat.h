#pragma once
#include <cstdarg>
#include <cstddef>

namespace quorvane {

// Writes what std::vsnprintf(out, size, format, arguments) writes into `out`, byte for byte,
// and returns what it returns: the length of the whole text, or a negative value for a format
// the C library refuses. `size` must be at least 1.
// The conversions trace calls mostly use (d i u x X o c s p %, with flags, width, precision and
// the integer length modifiers) are done here, several times faster than the C library's; any
// other (floating point, positional arguments, wide characters, %n, %m) goes to vsnprintf.
int formatEntryText(char* out, std::size_t size, const char* format, std::va_list arguments);

}  // namespace quorvane
