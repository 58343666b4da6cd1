#include "bench/BaselineFormatter.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

constexpr std::size_t kTimeBufferSize = 128;

int boundedLength(const char* field, std::size_t width) {
    return static_cast<int>(strnlen(field, width));
}

}  // namespace

std::string BaselineFormatter::formatLine(const TraceRecord& record, std::uint32_t lineNumber) {
    const auto found = m_depths.find(record.senderKey);
    std::int32_t depth = found != m_depths.end() ? found->second : 0;
    if (record.depthDelta < 0) depth += record.depthDelta;
    std::string indented;
    if (depth > 0) indented.assign(static_cast<std::size_t>(depth), '\t');
    indented.append(record.entryName, strnlen(record.entryName, sizeof record.entryName));
    if (record.depthDelta > 0) depth += record.depthDelta;
    m_currentDepth = depth;
    m_senderKey = record.senderKey;
    m_hasFormatted = true;

    char timeText[kTimeBufferSize] = "";
    const std::time_t seconds = static_cast<std::time_t>(record.timestamp);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr ||
        std::strftime(timeText, sizeof timeText, "%H:%M:%S", &local) == 0) {
        timeText[0] = '\0';
    }

    constexpr const char* kPattern = "%.5u\t%lu\t%s\t%.*s\t%s(%.*s)";
    const unsigned long senderKey = record.senderKey;
    const int originLength = boundedLength(record.originName, sizeof record.originName);
    const int textLength = boundedLength(record.entryText, sizeof record.entryText);
    const int length =
        std::snprintf(nullptr, 0, kPattern, lineNumber, senderKey, timeText, originLength,
                      record.originName, indented.c_str(), textLength, record.entryText);
    if (length <= 0) return std::string();
    std::string line(static_cast<std::size_t>(length), '\0');
    std::snprintf(line.data(), line.size() + 1, kPattern, lineNumber, senderKey, timeText,
                  originLength, record.originName, indented.c_str(), textLength, record.entryText);
    return line;
}

void BaselineFormatter::storeDepth() {
    if (m_hasFormatted) m_depths[m_senderKey] = m_currentDepth;
}
