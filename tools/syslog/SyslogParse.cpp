// Reading RFC 5424 messages: the header and structured data checked, texts decoded, time stamps
// read, and a message turned into a record.
#include <algorithm>
#include <cstring>

#include "tools/syslog/SyslogMessage.h"
#include "tools/syslog/SyslogSyntax.h"

namespace {

using syslogsyntax::isPrintableAscii;
using syslogsyntax::kByteOrderMark;
using syslogsyntax::kNilValue;
using syslogsyntax::parseWhole;
using syslogsyntax::scanStructuredData;

// rsyslog writes microseconds and an offset: "2024-05-01T12:00:00.123456+02:00" is 32.
constexpr std::size_t kMaxTimestampLength = 64;
constexpr int kMaxPriority = 191;
constexpr int kSeverities = 8;
constexpr std::uint32_t kFnvOffsetBasis = 2166136261u;
constexpr std::uint32_t kFnvPrime = 16777619u;
constexpr std::int64_t kSecondsPerDay = 86400;

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
    std::uint32_t nanoseconds = 0;
    return parseRfc3339(text, seconds, nanoseconds);
}

bool parseRfc3339(std::string_view text, std::int64_t& seconds, std::uint32_t& nanoseconds) {
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
    nanoseconds = 0;
    if (text[pos] == '.') {
        const std::size_t start = ++pos;
        std::uint32_t scale = 100'000'000;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            nanoseconds += static_cast<std::uint32_t>(text[pos] - '0') * scale;
            scale /= 10;
            ++pos;
        }
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
    std::uint32_t nanoseconds = 0;
    if (message.timestamp != kNilValue &&
        !parseRfc3339(message.timestamp, timestamp, nanoseconds)) {
        return "TIMESTAMP is not an RFC 3339 time";
    }
    // A time stamp with a fraction says more than whole seconds.
    const bool hasFraction =
        message.timestamp != kNilValue && message.timestamp.find('.') != std::string_view::npos;
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

    // The forwarder's own fields keep the nanoseconds and the sender's sequence number (a trace
    // without them had whole seconds only); any other message keeps what its time stamp's
    // fraction gives, numbered 0 so that no loss is read into it.
    std::uint32_t sequence = 0;
    std::uint32_t exactNanoseconds = nanoseconds;
    const bool forwarded =
        isTrace &&
        findStructuredParam(message.structuredData, kTraceStructuredDataId, "seq", value) &&
        parseWhole(value, sequence) &&
        findStructuredParam(message.structuredData, kTraceStructuredDataId, "ns", value) &&
        parseWhole(value, exactNanoseconds) && exactNanoseconds < 1'000'000'000u;
    if (!forwarded) {
        sequence = 0;
        exactNanoseconds = nanoseconds;
    }

    std::memset(&record, 0, sizeof record);
    record.timestamp = timestamp;
    if (isTrace ? forwarded : hasFraction) {
        record.nanoseconds = exactNanoseconds;
        record.sequence = sequence;
        record.marker = quorvane::kPreciseTimeMarker;
    }
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
