#include "tools/TailFilter.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "tools/common/NumberArgument.h"

namespace {

std::string_view field(const char* bytes, std::size_t size) {
    return {bytes, strnlen(bytes, size)};
}

}  // namespace

bool TailFilter::addGrep(const char* pattern, std::string& error) {
    auto compiled = std::make_unique<Compiled>();
    const int code = regcomp(&compiled->regex, pattern, REG_EXTENDED | REG_NOSUB);
    if (code != 0) {
        char reason[256];
        regerror(code, &compiled->regex, reason, sizeof reason);
        error = reason;
        return false;
    }
    compiled->valid = true;
    m_patterns.push_back(std::move(compiled));
    return true;
}

bool TailFilter::addSender(const char* argument) {
    std::uint32_t sender = 0;
    if (!parseUnsigned32(argument, sender)) return false;
    m_senders.push_back(sender);
    return true;
}

bool TailFilter::passes(const TraceRecord& record) {
    return matches(record) != m_invert;
}

bool TailFilter::matches(const TraceRecord& record) {
    if (!m_senders.empty() &&
        std::find(m_senders.begin(), m_senders.end(), record.senderKey) == m_senders.end())
        return false;
    if (!m_origins.empty()) {
        const std::string_view origin = field(record.originName, TraceRecord::kOriginNameSize);
        if (std::find(m_origins.begin(), m_origins.end(), origin) == m_origins.end()) return false;
    }
    if (m_patterns.empty()) return true;
    m_entry.assign(field(record.entryName, TraceRecord::kEntryNameSize));
    m_entry += '(';
    m_entry.append(field(record.entryText, TraceRecord::kEntryTextSize));
    m_entry += ')';
    return std::any_of(m_patterns.begin(), m_patterns.end(), [this](const auto& pattern) {
        return regexec(&pattern->regex, m_entry.c_str(), 0, nullptr, 0) == 0;
    });
}
