#include "viewer/lines/LineTimes.h"

#include <cstring>
#include <vector>

void LineTimes::follow(const TraceRecord& record, std::uint32_t lineNumber) {
    if (lineNumber != m_firstLine + m_nanoseconds.size()) return;  // out of step: keep nothing
    std::vector<std::uint32_t> unfinished;
    const ScopeTimes::Timing timing = m_scopes.follow(
        record, lineNumber,
        [&](const ScopeTimes::OpenScope& scope) { unfinished.push_back(scope.entryLine); });
    if (m_nanoseconds.empty()) m_firstTimestamp = record.timestamp;
    m_nanoseconds.push_back(timing.precise ? record.nanoseconds : kNoTime);
    if (!timing.precise) return;
    if (record.depthDelta > 0 &&
        std::memchr(record.originName, '/', sizeof record.originName) != nullptr)
        m_remoteSenders.insert(record.senderKey);
    if (timing.lostBefore > 0) m_notes[lineNumber].lostBefore = timing.lostBefore;
    if (record.depthDelta > 0) m_notes[lineNumber].scope = Scope::Open;
    if (timing.closesScope) {
        for (const std::uint32_t line : {timing.entryLine, lineNumber}) {
            Note& note = m_notes[line];
            note.scope = Scope::Closed;
            note.duration = timing.duration;
        }
    }
    for (const std::uint32_t line : unfinished) m_notes[line].scope = Scope::Unfinished;
}

void LineTimes::abandonSender(std::uint32_t senderKey) {
    for (const ScopeTimes::OpenScope& scope : m_scopes.abandonSender(senderKey))
        m_notes[scope.entryLine].scope = Scope::Unfinished;
}

void LineTimes::clear() {
    m_scopes.clear();
    m_remoteSenders.clear();
    m_firstLine = 1;
    m_firstTimestamp = -1;
    m_nanoseconds.clear();
    m_notes.clear();
}

std::uint32_t LineTimes::nanoseconds(std::uint32_t lineNumber) const {
    if (lineNumber < m_firstLine || lineNumber - m_firstLine >= m_nanoseconds.size())
        return kNoTime;
    return m_nanoseconds[lineNumber - m_firstLine];
}

const LineTimes::Note* LineTimes::note(std::uint32_t lineNumber) const {
    const auto found = m_notes.find(lineNumber);
    return found == m_notes.end() ? nullptr : &found->second;
}

std::uint32_t leadingLineNumber(std::string_view line) {
    std::uint32_t number = 0;
    std::size_t i = 0;
    for (; i < line.size() && i < 10 && line[i] >= '0' && line[i] <= '9'; ++i)
        number = number * 10 + static_cast<std::uint32_t>(line[i] - '0');
    return i > 0 && i < line.size() && line[i] == '\t' ? number : 0;
}

void decorateLine(std::string_view line, const LineTimes& times, const TimeColumns& columns,
                  std::string& out) {
    out.clear();
    // The time is the third column: it ends at the third tab.
    std::size_t timeEnd = std::string_view::npos;
    for (int tab = 0, from = 0; tab < 3; ++tab) {
        timeEnd = line.find('\t', static_cast<std::size_t>(from));
        if (timeEnd == std::string_view::npos) break;
        from = static_cast<int>(timeEnd + 1);
    }
    if (!columns.any() || timeEnd == std::string_view::npos) {
        out.assign(line);
        return;
    }
    const std::uint32_t number = leadingLineNumber(line);
    out.append(line.substr(0, timeEnd));
    const std::uint32_t nanoseconds = times.nanoseconds(number);
    if (columns.fractionDigits > 0 && nanoseconds != LineTimes::kNoTime) {
        char fraction[16];
        out.append(formatFraction(nanoseconds, columns.fractionDigits, fraction));
    }
    if (columns.durations) {
        out += '\t';
        if (const LineTimes::Note* note = times.note(number)) {
            switch (note->scope) {
                case LineTimes::Scope::Closed: {
                    char duration[kDurationTextSize];
                    out.append(duration, formatDuration(note->duration, duration));
                    break;
                }
                case LineTimes::Scope::Open:
                    out += "open";
                    break;
                case LineTimes::Scope::Unfinished:
                    out += "unfinished";
                    break;
                case LineTimes::Scope::None:
                    break;
            }
            if (note->lostBefore > 0) {
                if (note->scope != LineTimes::Scope::None) out += ", ";
                out += std::to_string(note->lostBefore) + " lost";
            }
        }
    }
    out.append(line.substr(timeEnd));
}
