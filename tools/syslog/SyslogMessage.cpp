#include "tools/syslog/SyslogMessage.h"

#include <charconv>
#include <cstdio>
#include <ctime>

#include "records/RecordFields.h"
#include "records/ScopeTimes.h"
#include "tools/syslog/SyslogSyntax.h"

namespace {

using syslogsyntax::isPrintableAscii;
using syslogsyntax::kByteOrderMark;
using syslogsyntax::kNilValue;

constexpr char kHexDigits[] = "0123456789ABCDEF";
// 0001-01-01T00:00:00Z and 9999-12-31T23:59:59Z: the years a four-digit TIMESTAMP can hold.
constexpr std::int64_t kFirstTimestamp = -62135596800;
constexpr std::int64_t kLastTimestamp = 253402300799;

void appendEscapedByte(std::string& out, unsigned char c) {
    out += '%';
    out += kHexDigits[c >> 4];
    out += kHexDigits[c & 0xF];
}

// Length of the valid UTF-8 sequence of two to four bytes at `s`, or 0.
std::size_t utf8SequenceLength(const unsigned char* s, std::size_t left) {
    const unsigned char lead = s[0];
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (left < length || s[1] < low || s[1] > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (s[i] < 0x80 || s[i] > 0xBF) return 0;
    }
    return length;
}

// Appends a record text as described in the header; returns whether any byte above 0x7F went out.
bool appendText(std::string& out, std::string_view text, bool paramValue) {
    bool wroteUtf8 = false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = bytes[i];
        if (c >= 0x20 && c < 0x7F && c != '%') {
            if (paramValue && (c == '"' || c == '\\' || c == ']')) out += '\\';
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        // Valid UTF-8 travels as it is; control bytes, '%' and anything else are escaped.
        const std::size_t length = c >= 0x80 ? utf8SequenceLength(bytes + i, text.size() - i) : 0;
        if (length > 0) {
            out.append(text.data() + i, length);
            wroteUtf8 = true;
            i += length;
        } else {
            appendEscapedByte(out, c);
            ++i;
        }
    }
    return wroteUtf8;
}

template <typename Number>
void appendNumber(std::string& out, Number value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

// With precise time, microseconds: RFC 5424 allows six digits of fraction.
void appendTimestamp(std::string& out, std::int64_t seconds, const std::uint32_t* nanoseconds) {
    std::tm utc{};
    const auto time = static_cast<std::time_t>(seconds);
    if (seconds < kFirstTimestamp || seconds > kLastTimestamp || gmtime_r(&time, &utc) == nullptr) {
        out += kNilValue;
        return;
    }
    char text[32];
    const int length =
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", utc.tm_year + 1900,
                      utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    out.append(text, static_cast<std::size_t>(length));
    if (nanoseconds != nullptr) out.append(formatFraction(*nanoseconds, 6, text));
    out += 'Z';
}

}  // namespace

void appendHeaderField(std::string& out, std::string_view value, std::size_t maxLength) {
    if (value.empty()) {
        out += kNilValue;
        return;
    }
    // A lone '-' would read as the NILVALUE.
    if (value == kNilValue) {
        appendEscapedByte(out, '-');
        return;
    }
    std::size_t length = 0;
    for (const char byte : value) {
        const auto c = static_cast<unsigned char>(byte);
        const bool plain = isPrintableAscii(c) && c != '%';
        if (length + (plain ? 1 : 3) > maxLength) break;
        if (plain) {
            out += byte;
        } else {
            appendEscapedByte(out, c);
        }
        length += plain ? 1 : 3;
    }
}

void appendTraceMessage(std::string& out, const TraceRecord& record, std::string_view runId,
                        std::uint64_t lineNumber, std::string_view hostName) {
    out += '<';
    appendNumber(out, kTracePriority);
    out += ">1 ";
    const bool precise = quorvane::carriesPreciseTime(record);
    const std::uint32_t nanoseconds = record.nanoseconds;
    appendTimestamp(out, record.timestamp, precise ? &nanoseconds : nullptr);
    out += ' ';
    appendHeaderField(out, hostName, kMaxHostNameLength);
    out += ' ';
    appendHeaderField(out, recordFieldText(record.originName), kMaxAppNameLength);
    out += ' ';
    appendNumber(out, record.senderKey);
    out += ' ';
    out += kTraceMessageId;
    out += " [";
    out += kTraceStructuredDataId;
    out += " run=\"";
    appendText(out, runId, true);
    out += "\" line=\"";
    appendNumber(out, lineNumber);
    out += "\" depth=\"";
    appendNumber(out, record.depthDelta);
    out += "\" name=\"";
    appendText(out, recordFieldText(record.entryName), true);
    out += "\" time=\"";
    appendNumber(out, record.timestamp);
    if (precise) {
        out += "\" ns=\"";
        appendNumber(out, record.nanoseconds);
        out += "\" seq=\"";
        appendNumber(out, record.sequence);
    }
    out += "\"]";
    const std::string_view text = recordFieldText(record.entryText);
    if (text.empty()) return;
    out += ' ';
    const std::size_t textStart = out.size();
    if (appendText(out, text, false)) out.insert(textStart, kByteOrderMark);
}
