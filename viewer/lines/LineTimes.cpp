#include "viewer/lines/LineTimes.h"

#include <cstring>

#include "records/LineFormatter.h"

void LineTimes::follow(const TraceRecord& record, std::uint32_t lineNumber) {
    if (lineNumber != m_firstLine + m_lines.size()) return;  // out of step: keep nothing
    const ScopeTimes::Timing timing = m_scopes.follow(record, lineNumber);
    if (m_firstTimestamp < 0) m_firstTimestamp = record.timestamp;
    if (!timing.precise) {
        ++m_linesWithoutTime;
        // Lines before the first with precise time need no slot: records of other programs
        // cost nothing here.
        if (m_lines.empty()) {
            ++m_firstLine;
            return;
        }
        m_lines.push_back({kNoTime, kNoNote});
        return;
    }
    m_lines.push_back({record.nanoseconds, kNoNote});
    if (record.depthDelta > 0 &&
        std::memchr(record.originName, '/', sizeof record.originName) != nullptr)
        m_remoteSenders.insert(record.senderKey);
    if (timing.lostBefore > 0) noteOf(lineNumber).lostBefore = timing.lostBefore;
    if (record.depthDelta > 0) noteOf(lineNumber).scope = Scope::Open;
    if (timing.closesScope) {
        for (const std::uint32_t line : {timing.entryLine, lineNumber}) {
            Note& note = noteOf(line);
            note.scope = Scope::Closed;
            note.duration = timing.duration;
        }
    }
    for (const ScopeTimes::OpenScope& scope : m_scopes.unfinished())
        noteOf(scope.entryLine).scope = Scope::Unfinished;
}

LineTimes::Note& LineTimes::noteOf(std::uint32_t lineNumber) {
    Slot& slot = m_lines[lineNumber - m_firstLine];
    if (slot.note == kNoNote) {
        slot.note = static_cast<std::uint32_t>(m_notes.size());
        m_notes.emplace_back();
    }
    return m_notes[slot.note];
}

void LineTimes::abandonSender(std::uint32_t senderKey) {
    for (const ScopeTimes::OpenScope& scope : m_scopes.abandonSender(senderKey))
        noteOf(scope.entryLine).scope = Scope::Unfinished;
}

void LineTimes::clear() {
    m_scopes.clear();
    m_remoteSenders.clear();
    m_firstLine = 1;
    m_firstTimestamp = -1;
    m_lines.clear();
    m_linesWithoutTime = 0;
    m_notes.clear();
}

std::uint32_t LineTimes::nanoseconds(std::uint32_t lineNumber) const {
    if (lineNumber < m_firstLine || lineNumber - m_firstLine >= m_lines.size()) return kNoTime;
    return m_lines[lineNumber - m_firstLine].nanoseconds;
}

const LineTimes::Note* LineTimes::note(std::uint32_t lineNumber) const {
    if (lineNumber < m_firstLine || lineNumber - m_firstLine >= m_lines.size()) return nullptr;
    const std::uint32_t index = m_lines[lineNumber - m_firstLine].note;
    return index == kNoNote ? nullptr : &m_notes[index];
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
    const std::size_t timeEnd = timeColumnEnd(line);
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
