#include "tools/SyslogMessage.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "records/RecordFields.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kNilValue = "-";
// rsyslog writes microseconds and an offset: "2024-05-01T12:00:00.123456+02:00" is 32.
constexpr std::size_t kMaxTimestampLength = 64;
// The longest SD-NAME (an SD-ID or a PARAM-NAME).
constexpr std::size_t kMaxStructuredNameLength = 32;
constexpr int kMaxPriority = 191;
constexpr int kSeverities = 8;
// 0001-01-01T00:00:00Z and 9999-12-31T23:59:59Z: the years a four-digit TIMESTAMP can hold.
constexpr std::int64_t kFirstTimestamp = -62135596800;
constexpr std::int64_t kLastTimestamp = 253402300799;
constexpr std::uint32_t kFnvOffsetBasis = 2166136261u;
constexpr std::uint32_t kFnvPrime = 16777619u;
constexpr std::int64_t kSecondsPerDay = 86400;

bool isPrintableAscii(unsigned char c) {
    return c >= 0x21 && c <= 0x7E;
}

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

void appendTimestamp(std::string& out, std::int64_t seconds) {
    std::tm utc{};
    const auto time = static_cast<std::time_t>(seconds);
    if (seconds < kFirstTimestamp || seconds > kLastTimestamp || gmtime_r(&time, &utc) == nullptr) {
        out += kNilValue;
        return;
    }
    char text[32];
    const int length =
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900,
                      utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    out.append(text, static_cast<std::size_t>(length));
}

bool isStructuredNameByte(unsigned char c) {
    return isPrintableAscii(c) && c != '=' && c != ']' && c != '"';
}

// Reads an SD-NAME at text[pos]; returns null or what is wrong.
const char* readStructuredName(std::string_view text, std::size_t& pos, std::string_view& name) {
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

// Reads a header field ending in a space at text[pos], leaving `pos` after the space.
const char* readHeaderField(std::string_view text, std::size_t& pos, std::size_t maxLength,
                            std::string_view& field, const char* tooLong) {
    const std::size_t start = pos;
    while (pos < text.size() && isPrintableAscii(static_cast<unsigned char>(text[pos]))) ++pos;
    if (pos >= text.size()) return "line ends inside the header";
    if (text[pos] != ' ') return "header field holds a byte that is not printable ASCII";
    if (pos == start) return "empty header field";
    if (pos - start > maxLength) return tooLong;
    field = text.substr(start, pos - start);
    ++pos;
    return nullptr;
}

template <typename Number>
bool parseWhole(std::string_view text, Number& value) {
    const char* const end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

bool parseDigits(std::string_view text, std::size_t pos, std::size_t count, int& value) {
    if (pos + count > text.size()) return false;
    value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Writes `text` into `out` up to `width` bytes from `written` on; returns the new count.
std::size_t appendRaw(char* out, std::size_t written, std::size_t width, std::string_view text) {
    const std::size_t length = std::min(text.size(), width - written);
    std::memcpy(out + written, text.data(), length);
    return written + length;
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
    appendTimestamp(out, record.timestamp);
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
    out += "\"]";
    const std::string_view text = recordFieldText(record.entryText);
    if (text.empty()) return;
    out += ' ';
    const std::size_t textStart = out.size();
    if (appendText(out, text, false)) out.insert(textStart, kByteOrderMark);
}

const char* parseSyslogMessage(std::string_view line, SyslogMessage& message) {
    if (line.empty()) return "empty line";
    if (line[0] != '<') return "no <PRI> at the start";
    std::size_t pos = 1;
    int priority = 0;
    std::size_t digits = 0;
    while (pos < line.size() && digits < 4 && line[pos] >= '0' && line[pos] <= '9') {
        priority = priority * 10 + (line[pos++] - '0');
        ++digits;
    }
    if (digits == 0 || digits > 3 || pos >= line.size() || line[pos] != '>' ||
        priority > kMaxPriority) {
        return "no valid <PRI> at the start";
    }
    ++pos;
    if (line.substr(pos, 2) != "1 ") return "not syslog protocol version 1";
    pos += 2;
    SyslogMessage parsed;
    parsed.priority = priority;
    if (const char* error = readHeaderField(line, pos, kMaxTimestampLength, parsed.timestamp,
                                            "TIMESTAMP too long")) {
        return error;
    }
    if (const char* error = readHeaderField(line, pos, kMaxHostNameLength, parsed.hostName,
                                            "HOSTNAME longer than 255")) {
        return error;
    }
    if (const char* error = readHeaderField(line, pos, kMaxAppNameLength, parsed.appName,
                                            "APP-NAME longer than 48")) {
        return error;
    }
    if (const char* error =
            readHeaderField(line, pos, kMaxProcIdLength, parsed.procId, "PROCID longer than 128")) {
        return error;
    }
    if (const char* error = readHeaderField(line, pos, kMaxMessageIdLength, parsed.messageId,
                                            "MSGID longer than 32")) {
        return error;
    }
    const std::size_t dataStart = pos;
    if (pos < line.size() && line[pos] == '-') {
        ++pos;
    } else if (pos < line.size() && line[pos] == '[') {
        if (const char* error = scanStructuredData(line, pos, [](auto, auto, auto) {})) {
            return error;
        }
    } else {
        return "no structured data";
    }
    parsed.structuredData = line.substr(dataStart, pos - dataStart);
    if (pos < line.size()) {
        if (line[pos] != ' ') return "structured data not followed by a space";
        parsed.text = line.substr(pos + 1);
        if (parsed.text.starts_with(kByteOrderMark))
            parsed.text.remove_prefix(kByteOrderMark.size());
    }
    message = parsed;
    return nullptr;
}

bool findStructuredParam(std::string_view structuredData, std::string_view id,
                         std::string_view name, std::string_view& rawValue) {
    if (structuredData.empty() || structuredData[0] != '[') return false;
    bool found = false;
    std::size_t pos = 0;
    scanStructuredData(
        structuredData, pos,
        [&](std::string_view elementId, std::string_view paramName, std::string_view value) {
            if (found || elementId != id || paramName != name) return;
            rawValue = value;
            found = true;
        });
    return found;
}

std::size_t decodeText(std::string_view encoded, bool paramValue, char* out, std::size_t width) {
    std::size_t written = 0;
    for (std::size_t i = 0; i < encoded.size() && written < width;) {
        const char c = encoded[i];
        if (paramValue && c == '\\' && i + 1 < encoded.size() &&
            (encoded[i + 1] == '"' || encoded[i + 1] == '\\' || encoded[i + 1] == ']')) {
            out[written++] = encoded[i + 1];
            i += 2;
        } else if (c == '%' && i + 2 < encoded.size() && hexValue(encoded[i + 1]) >= 0 &&
                   hexValue(encoded[i + 2]) >= 0) {
            out[written++] =
                static_cast<char>(hexValue(encoded[i + 1]) * 16 + hexValue(encoded[i + 2]));
            i += 3;
        } else {
            out[written++] = c;
            ++i;
        }
    }
    return written;
}

std::uint32_t syslogSenderKey(std::string_view hostName, std::string_view procId) {
    std::uint32_t hash = kFnvOffsetBasis;
    const auto mix = [&hash](std::string_view bytes) {
        for (const char c : bytes) {
            hash ^= static_cast<unsigned char>(c);
            hash *= kFnvPrime;
        }
    };
    mix(hostName);
    mix(std::string_view("\0", 1));
    mix(procId);
    return hash;
}

bool parseRfc3339(std::string_view text, std::int64_t& seconds) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!parseDigits(text, 0, 4, year) || text.size() < 20 || text[4] != '-' ||
        !parseDigits(text, 5, 2, month) || text[7] != '-' || !parseDigits(text, 8, 2, day) ||
        (text[10] != 'T' && text[10] != 't') || !parseDigits(text, 11, 2, hour) ||
        text[13] != ':' || !parseDigits(text, 14, 2, minute) || text[16] != ':' ||
        !parseDigits(text, 17, 2, second)) {
        return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
        return false;
    }
    std::size_t pos = 19;
    if (text[pos] == '.') {
        const std::size_t start = ++pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
        if (pos == start) return false;
    }
    std::int64_t offset = 0;
    const std::string_view zone = text.substr(pos);
    if (zone != "Z" && zone != "z") {
        int offsetHours = 0, offsetMinutes = 0;
        if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') ||
            !parseDigits(zone, 1, 2, offsetHours) || zone[3] != ':' ||
            !parseDigits(zone, 4, 2, offsetMinutes) || offsetHours > 23 || offsetMinutes > 59) {
            return false;
        }
        offset = (std::int64_t{offsetHours} * 60 + offsetMinutes) * 60;
        if (zone[0] == '-') offset = -offset;
    }
    seconds = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) *
                  kSecondsPerDay +
              std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 + second - offset;
    return true;
}

const char* recordFromMessage(const SyslogMessage& message, std::int64_t now, TraceRecord& record) {
    static const char* const kSeverityNames[kSeverities] = {"emerg",   "alert",  "crit", "err",
                                                            "warning", "notice", "info", "debug"};
    bool isTrace = false;
    if (message.messageId == kTraceMessageId && !message.structuredData.empty() &&
        message.structuredData[0] == '[') {
        std::size_t pos = 0;
        scanStructuredData(message.structuredData, pos,
                           [&isTrace](std::string_view id, std::string_view, std::string_view) {
                               isTrace = isTrace || id == kTraceStructuredDataId;
                           });
    }

    std::int64_t timestamp = now;
    if (message.timestamp != kNilValue && !parseRfc3339(message.timestamp, timestamp)) {
        return "TIMESTAMP is not an RFC 3339 time";
    }
    std::int32_t depthDelta = 0;
    std::string_view value;
    if (isTrace &&
        findStructuredParam(message.structuredData, kTraceStructuredDataId, "depth", value) &&
        !parseWhole(value, depthDelta)) {
        return "depth is not a 32-bit number";
    }
    if (isTrace &&
        findStructuredParam(message.structuredData, kTraceStructuredDataId, "time", value) &&
        !parseWhole(value, timestamp)) {
        return "time is not a 64-bit number";
    }

    std::memset(&record, 0, sizeof record);
    record.timestamp = timestamp;
    record.depthDelta = depthDelta;
    record.senderKey = syslogSenderKey(message.hostName, message.procId);

    constexpr std::size_t kOriginWidth = TraceRecord::kOriginNameSize - 1;
    std::size_t origin = 0;
    if (isTrace) {
        // The forwarder writes an empty host name or origin as the NILVALUE.
        const auto field = [](std::string_view value) {
            return value == kNilValue ? std::string_view() : value;
        };
        origin = decodeText(field(message.hostName), false, record.originName, kOriginWidth);
        origin = appendRaw(record.originName, origin, kOriginWidth, "/");
        decodeText(field(message.appName), false, record.originName + origin,
                   kOriginWidth - origin);
        if (findStructuredParam(message.structuredData, kTraceStructuredDataId, "name", value)) {
            decodeText(value, true, record.entryName, TraceRecord::kEntryNameSize - 1);
        }
        decodeText(message.text, false, record.entryText, TraceRecord::kEntryTextSize - 1);
        return nullptr;
    }
    origin = appendRaw(record.originName, origin, kOriginWidth, message.hostName);
    origin = appendRaw(record.originName, origin, kOriginWidth, "/");
    appendRaw(record.originName, origin, kOriginWidth, message.appName);
    const std::string_view name = message.messageId != kNilValue
                                      ? message.messageId
                                      : kSeverityNames[message.priority % kSeverities];
    appendRaw(record.entryName, 0, TraceRecord::kEntryNameSize - 1, name);
    appendRaw(record.entryText, 0, TraceRecord::kEntryTextSize - 1, message.text);
    return nullptr;
}

bool RepeatFilter::identify(const SyslogMessage& message, std::uint64_t& line) {
    std::string_view run;
    std::string_view lineText;
    if (message.messageId != kTraceMessageId ||
        !findStructuredParam(message.structuredData, kTraceStructuredDataId, "run", run) ||
        !findStructuredParam(message.structuredData, kTraceStructuredDataId, "line", lineText) ||
        !parseWhole(lineText, line)) {
        return false;
    }
    m_key.assign(message.hostName);
    m_key += '\0';
    m_key += run;
    return true;
}

namespace {

constexpr std::uint64_t kBitsPerWord = 64;

bool testBit(const std::vector<std::uint64_t>& bits, std::uint64_t line) {
    const std::uint64_t bit = line % RepeatFilter::kWindow;
    return (bits[bit / kBitsPerWord] >> (bit % kBitsPerWord) & 1u) != 0;
}

void setBit(std::vector<std::uint64_t>& bits, std::uint64_t line, bool value) {
    const std::uint64_t bit = line % RepeatFilter::kWindow;
    const std::uint64_t mask = std::uint64_t{1} << (bit % kBitsPerWord);
    bits[bit / kBitsPerWord] =
        value ? bits[bit / kBitsPerWord] | mask : bits[bit / kBitsPerWord] & ~mask;
}

}  // namespace

bool RepeatFilter::isRepeat(const SyslogMessage& message) {
    std::uint64_t line = 0;
    if (!identify(message, line)) return false;
    const auto known = m_runs.find(m_key);
    if (known == m_runs.end()) return false;
    const Run& run = known->second;
    if (line > run.highest || run.highest - line >= kWindow) return false;
    return testBit(run.posted, line);
}

void RepeatFilter::notePosted(const SyslogMessage& message) {
    std::uint64_t line = 0;
    if (!identify(message, line)) return;
    Run& run = m_runs[m_key];
    if (run.posted.empty()) run.posted.assign(kWindow / kBitsPerWord, 0);
    if (line > run.highest) {
        // The lines that enter the window have not been posted yet.
        if (line - run.highest >= kWindow) {
            std::fill(run.posted.begin(), run.posted.end(), 0);
        } else {
            for (std::uint64_t cleared = run.highest + 1; cleared < line; ++cleared) {
                setBit(run.posted, cleared, false);
            }
        }
        run.highest = line;
    } else if (run.highest - line >= kWindow) {
        return;
    }
    setBit(run.posted, line, true);
}
