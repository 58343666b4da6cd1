#pragma once
// The registry store's text formats, apart from the files that hold them: how a key or value
// name becomes one file name, and how a value is written as one line of text and read back.
//
//   dword:0000002a      sz:text with \\ \n \x1f escapes      hex:01,02,ff      hex(7):00,01
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"

namespace quorvane::platform {

// The longest file name a name may become.
constexpr std::size_t kMaxFileNameLength = 255;

// Turns a key or value name into a file name that is one path component and never starts with
// '.' (bytes other than letters, digits, '-', '_', ' ' and a '.' not first become %XX); returns
// false when the result would not fit a file name.
bool escapeName(std::string_view name, std::string& fileName);

// One value's type and bytes as read back.
struct StoredValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

// The line that stores a value of `type` with `size` bytes at `data` (REG_SZ without its
// terminating NUL, which reading adds back).
std::string encodeValue(DWORD type, const BYTE* data, DWORD size);
// The value stored by `text`, or nothing when the text is not one this store writes.
std::optional<StoredValue> decodeValue(std::string_view text);

}  // namespace quorvane::platform
