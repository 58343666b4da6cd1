#include "platform/posix/RegistryFormat.h"

#include <cstring>

namespace quorvane::platform {
namespace {

constexpr std::string_view kDwordTag = "dword:";
constexpr std::string_view kStringTag = "sz:";
constexpr std::string_view kBinaryTag = "hex:";
constexpr std::string_view kTypedBinaryTag = "hex(";
constexpr std::size_t kDwordDigits = 8;
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kNameEscapeDigits[] = "0123456789ABCDEF";

bool isPlainNameByte(unsigned char c, bool first) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    if (c == '-' || c == '_' || c == ' ') return true;
    return c == '.' && !first;
}

void appendHexByte(std::string& text, unsigned char byte) {
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 0xF];
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parseHexBytes(std::string_view text, std::vector<BYTE>& bytes) {
    if (text.empty()) return true;
    for (std::size_t i = 0;; i += 3) {
        if (i + 2 > text.size()) return false;
        const int high = hexValue(text[i]);
        const int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<BYTE>(high << 4 | low));
        if (i + 2 == text.size()) return true;
        if (text[i + 2] != ',') return false;
    }
}

bool parseHexNumber(std::string_view text, std::size_t maxDigits, DWORD& value) {
    if (text.empty() || text.size() > maxDigits) return false;
    value = 0;
    for (char c : text) {
        const int digit = hexValue(c);
        if (digit < 0) return false;
        value = value << 4 | static_cast<DWORD>(digit);
    }
    return true;
}

bool unescapeString(std::string_view text, std::vector<BYTE>& bytes) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes.push_back(static_cast<BYTE>(text[i]));
            continue;
        }
        if (++i == text.size()) return false;
        if (text[i] == '\\') {
            bytes.push_back('\\');
        } else if (text[i] == 'n') {
            bytes.push_back('\n');
        } else if (text[i] == 'x' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            bytes.push_back(static_cast<BYTE>(hexValue(text[i + 1]) << 4 | hexValue(text[i + 2])));
            i += 2;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

bool escapeName(std::string_view name, std::string& fileName) {
    fileName.clear();
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (isPlainNameByte(c, i == 0)) {
            fileName += static_cast<char>(c);
        } else {
            fileName += '%';
            fileName += kNameEscapeDigits[c >> 4];
            fileName += kNameEscapeDigits[c & 0xF];
        }
    }
    return fileName.size() <= kMaxFileNameLength;
}

std::string encodeValue(DWORD type, const BYTE* data, DWORD size) {
    std::string text;
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD value = 0;
        std::memcpy(&value, data, sizeof value);
        text = kDwordTag;
        for (int shift = 28; shift >= 0; shift -= 4) text += kHexDigits[(value >> shift) & 0xF];
    } else if (type == REG_SZ) {
        if (size > 0 && data[size - 1] == 0) --size;
        text = kStringTag;
        for (DWORD i = 0; i < size; ++i) {
            const unsigned char c = data[i];
            if (c == '\\') {
                text += "\\\\";
            } else if (c == '\n') {
                text += "\\n";
            } else if (c < 0x20 || c == 0x7F) {
                text += "\\x";
                appendHexByte(text, c);
            } else {
                text += static_cast<char>(c);
            }
        }
    } else {
        if (type == REG_BINARY) {
            text = kBinaryTag;
        } else {
            text = kTypedBinaryTag;
            bool leading = true;
            for (int shift = 28; shift >= 0; shift -= 4) {
                const DWORD digit = (type >> shift) & 0xF;
                if (digit == 0 && leading && shift > 0) continue;
                leading = false;
                text += kHexDigits[digit];
            }
            text += "):";
        }
        for (DWORD i = 0; i < size; ++i) {
            if (i > 0) text += ',';
            appendHexByte(text, data[i]);
        }
    }
    text += '\n';
    return text;
}

std::optional<StoredValue> decodeValue(std::string_view text) {
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    if (text.find('\n') != std::string_view::npos) return std::nullopt;
    StoredValue value;
    if (text.starts_with(kDwordTag)) {
        DWORD number = 0;
        if (!parseHexNumber(text.substr(kDwordTag.size()), kDwordDigits, number)) {
            return std::nullopt;
        }
        value.type = REG_DWORD;
        value.bytes.resize(sizeof number);
        std::memcpy(value.bytes.data(), &number, sizeof number);
    } else if (text.starts_with(kStringTag)) {
        value.type = REG_SZ;
        if (!unescapeString(text.substr(kStringTag.size()), value.bytes)) return std::nullopt;
        value.bytes.push_back(0);
    } else if (text.starts_with(kBinaryTag)) {
        value.type = REG_BINARY;
        if (!parseHexBytes(text.substr(kBinaryTag.size()), value.bytes)) return std::nullopt;
    } else if (text.starts_with(kTypedBinaryTag)) {
        text.remove_prefix(kTypedBinaryTag.size());
        const std::size_t close = text.find("):");
        if (close == std::string_view::npos ||
            !parseHexNumber(text.substr(0, close), kDwordDigits, value.type) ||
            !parseHexBytes(text.substr(close + 2), value.bytes)) {
            return std::nullopt;
        }
    } else {
        return std::nullopt;
    }
    return value;
}

}  // namespace quorvane::platform
