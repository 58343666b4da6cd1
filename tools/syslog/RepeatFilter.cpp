#include "tools/syslog/RepeatFilter.h"

#include <algorithm>
#include <iterator>

#include "tools/syslog/SyslogSyntax.h"

bool RepeatFilter::identify(const SyslogMessage& message, std::uint64_t& line) {
    std::string_view run;
    std::string_view lineText;
    if (message.messageId != kTraceMessageId ||
        !findStructuredParam(message.structuredData, kTraceStructuredDataId, "run", run) ||
        !findStructuredParam(message.structuredData, kTraceStructuredDataId, "line", lineText) ||
        run.size() > kMaxRunLength || !syslogsyntax::parseWhole(lineText, line)) {
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

RepeatFilter::Run* RepeatFilter::find() {
    const auto known = m_runs.find(m_key);
    if (known == m_runs.end()) return nullptr;
    m_recent.splice(m_recent.begin(), m_recent, known->second);
    return &*known->second;
}

RepeatFilter::Run& RepeatFilter::add() {
    if (m_runs.size() < kMaxRuns) {
        m_recent.emplace_front();
        m_recent.front().posted.assign(kWindow / kBitsPerWord, 0);
    } else {
        // The bits of the run forgotten are reused as they are.
        m_runs.erase(m_recent.back().key);
        m_recent.splice(m_recent.begin(), m_recent, std::prev(m_recent.end()));
        std::fill(m_recent.front().posted.begin(), m_recent.front().posted.end(), 0);
        m_recent.front().highest = 0;
    }
    Run& run = m_recent.front();
    run.key = m_key;
    m_runs.emplace(run.key, m_recent.begin());
    return run;
}

bool RepeatFilter::isRepeat(const SyslogMessage& message) {
    std::uint64_t line = 0;
    if (!identify(message, line)) return false;
    const Run* known = find();
    if (known == nullptr) return false;
    const Run& run = *known;
    if (line > run.highest || run.highest - line >= kWindow) return false;
    return testBit(run.posted, line);
}

void RepeatFilter::notePosted(const SyslogMessage& message) {
    std::uint64_t line = 0;
    if (!identify(message, line)) return;
    Run* known = find();
    Run& run = known != nullptr ? *known : add();
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
