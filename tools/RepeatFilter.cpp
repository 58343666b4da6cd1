#include "tools/RepeatFilter.h"

#include <algorithm>

#include "tools/SyslogSyntax.h"

bool RepeatFilter::identify(const SyslogMessage& message, std::uint64_t& line) {
    std::string_view run;
    std::string_view lineText;
    if (message.messageId != kTraceMessageId ||
        !findStructuredParam(message.structuredData, kTraceStructuredDataId, "run", run) ||
        !findStructuredParam(message.structuredData, kTraceStructuredDataId, "line", lineText) ||
        !syslogsyntax::parseWhole(lineText, line)) {
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
