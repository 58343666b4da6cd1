#include "records/LineFormatter.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <limits>

namespace {

constexpr std::size_t kLineNumberDigits = 5;
constexpr char kTimePattern[] = "%H:%M:%S";

// Writes `value` in decimal, zero-padded to `minDigits` (at most 10), and returns the end.
char* writeDecimal(char* out, std::uint32_t value, std::size_t minDigits) {
    constexpr std::size_t kMaxDigits = 10;
    char digits[kMaxDigits];
    char* const end = digits + kMaxDigits;
    char* first = end;
    do {
        *--first = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (static_cast<std::size_t>(end - first) < minDigits) *--first = '0';
    const std::size_t length = static_cast<std::size_t>(end - first);
    std::memcpy(out, first, length);
    return out + length;
}

// Copies a text field up to its NUL, or its whole width when it has none. CR and LF are written
// as a backslash and 'r' or 'n', so that one record always stays one line.
template <std::size_t Width>
char* writeField(char* out, const char (&field)[Width]) {
    const void* nul = std::memchr(field, '\0', Width);
    const std::size_t length =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - field) : Width;
    // Most fields hold no line break: copy up to the first one in one go, then byte by byte.
    std::size_t plain = length;
    if (const void* lf = std::memchr(field, '\n', plain)) {
        plain = static_cast<std::size_t>(static_cast<const char*>(lf) - field);
    }
    if (const void* cr = std::memchr(field, '\r', plain)) {
        plain = static_cast<std::size_t>(static_cast<const char*>(cr) - field);
    }
    std::memcpy(out, field, plain);
    out += plain;
    for (std::size_t i = plain; i < length; ++i) {
        const char byte = field[i];
        if (byte == '\r' || byte == '\n') {
            *out++ = '\\';
            *out++ = byte == '\r' ? 'r' : 'n';
        } else {
            *out++ = byte;
        }
    }
    return out;
}

// Adds in 64 bits and saturates, so a hostile delta cannot overflow the depth.
std::int32_t addDepth(std::int32_t depth, std::int32_t delta) {
    const std::int64_t sum = std::int64_t{depth} + delta;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        sum, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

std::size_t timeColumnEnd(std::string_view line) {
    std::size_t end = std::string_view::npos;
    for (int tab = 0; tab < 3; ++tab) {
        end = line.find('\t', tab == 0 ? 0 : end + 1);
        if (end == std::string_view::npos) break;
    }
    return end;
}

LineFormatter::LineFormatter(DepthTable& depthTable) : m_depthTable(depthTable) {}

std::string_view LineFormatter::formatLine(const TraceRecord& record, std::uint32_t lineNumber) {
    const std::uint32_t senderKey = record.senderKey;
    const std::int32_t delta = record.depthDelta;
    m_senderKey = senderKey;
    m_hasFormatted = true;

    std::int32_t depth = 0;
    if (!m_depthTable.lookup(senderKey, depth)) depth = 0;
    if (delta < 0) depth = addDepth(depth, delta);
    m_shownDepth = depth;
    const std::size_t indentTabs =
        depth > 0 ? static_cast<std::size_t>(std::min(depth, kMaxIndentTabs)) : 0;
    if (delta > 0) depth = addDepth(depth, delta);
    m_pendingDepth = depth;

    updateTimeText(record.timestamp);

    char* out = m_line.data();
    out = writeDecimal(out, lineNumber, kLineNumberDigits);
    *out++ = '\t';
    out = writeDecimal(out, senderKey, 1);
    *out++ = '\t';
    std::memcpy(out, m_timeText.data(), m_timeTextLength);
    out += m_timeTextLength;
    *out++ = '\t';
    out = writeField(out, record.originName);
    *out++ = '\t';
    std::memset(out, '\t', indentTabs);
    out += indentTabs;
    out = writeField(out, record.entryName);
    *out++ = '(';
    out = writeField(out, record.entryText);
    *out++ = ')';
    return {m_line.data(), static_cast<std::size_t>(out - m_line.data())};
}

void LineFormatter::storeDepth() {
    if (m_hasFormatted) m_depthTable.store(m_senderKey, m_pendingDepth);
}

void LineFormatter::updateTimeText(std::int64_t timestamp) {
    if (m_hasCachedTime && timestamp == m_cachedTimestamp) return;
    m_hasCachedTime = true;
    m_cachedTimestamp = timestamp;
    m_timeTextLength = 0;
    if constexpr (sizeof(std::time_t) < sizeof(std::int64_t)) {
        if (timestamp < std::numeric_limits<std::time_t>::min() ||
            timestamp > std::numeric_limits<std::time_t>::max()) {
            return;
        }
    }
    const std::time_t time = static_cast<std::time_t>(timestamp);
    std::tm local{};
    if (localtime_r(&time, &local) == nullptr) return;
    m_timeTextLength = std::strftime(m_timeText.data(), m_timeText.size(), kTimePattern, &local);
}
