#pragma once
// The pieces of RFC 5424's syntax that writing and reading a message share: the NILVALUE, the
// byte order mark, printable ASCII, structured data scanned element by element, whole numbers.

#include <charconv>
#include <cstddef>
#include <string_view>
#include <system_error>

namespace syslogsyntax {

inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
inline constexpr std::string_view kNilValue = "-";
// The longest SD-NAME (an SD-ID or a PARAM-NAME).
inline constexpr std::size_t kMaxStructuredNameLength = 32;

inline bool isPrintableAscii(unsigned char c) {
    return c >= 0x21 && c <= 0x7E;
}

inline bool isStructuredNameByte(unsigned char c) {
    return isPrintableAscii(c) && c != '=' && c != ']' && c != '"';
}

// Reads an SD-NAME at text[pos]; returns null or what is wrong.
inline const char* readStructuredName(std::string_view text, std::size_t& pos,
                                      std::string_view& name) {
    const std::size_t start = pos;
    while (pos < text.size() && isStructuredNameByte(static_cast<unsigned char>(text[pos]))) ++pos;
    if (pos == start) return "structured data has an empty or invalid name";
    if (pos - start > kMaxStructuredNameLength) return "structured data name longer than 32";
    name = text.substr(start, pos - start);
    return nullptr;
}

// Scans the SD-ELEMENTs starting at text[pos] ('['), leaving `pos` after the last one. Calls
// visit(id, name, rawValue) for each element (with an empty name) and each of its parameters.
template <typename Visit>
const char* scanStructuredData(std::string_view text, std::size_t& pos, Visit&& visit) {
    constexpr const char* kUnterminated = "structured data not terminated";
    while (pos < text.size() && text[pos] == '[') {
        ++pos;
        std::string_view id;
        if (const char* error = readStructuredName(text, pos, id)) return error;
        visit(id, std::string_view(), std::string_view());
        for (;;) {
            if (pos >= text.size()) return kUnterminated;
            if (text[pos] == ']') {
                ++pos;
                break;
            }
            if (text[pos] != ' ') return "structured data parameter not separated by a space";
            ++pos;
            std::string_view name;
            if (const char* error = readStructuredName(text, pos, name)) return error;
            if (pos + 1 >= text.size()) return kUnterminated;
            if (text[pos] != '=' || text[pos + 1] != '"') {
                return "structured data parameter without =\"value\"";
            }
            pos += 2;
            const std::size_t start = pos;
            // A backslash takes the next byte with it, whether or not it is a valid escape.
            while (pos < text.size() && text[pos] != '"') pos += text[pos] == '\\' ? 2 : 1;
            if (pos >= text.size()) return kUnterminated;
            visit(id, name, text.substr(start, pos - start));
            ++pos;
        }
    }
    return nullptr;
}

template <typename Number>
bool parseWhole(std::string_view text, Number& value) {
    const char* const end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

}  // namespace syslogsyntax
