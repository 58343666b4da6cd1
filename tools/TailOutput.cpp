#include "tools/TailOutput.h"

#include <cstring>
#include <string_view>

#include "tools/TailColour.h"

namespace {

constexpr int kPreciseDigits = 6;

}  // namespace

bool TailFormat::setKind(const char* argument) {
    const std::string_view name(argument);
    if (name == "lines") {
        kind = Kind::Lines;
    } else if (name == "jsonl") {
        kind = Kind::JsonLines;
    } else if (name == "trace-event") {
        kind = Kind::TraceEvent;
    } else {
        return false;
    }
    return true;
}

bool TailFormat::setTime(const char* argument) {
    const std::string_view name(argument);
    if (name == "seconds") {
        fractionDigits = 0;
    } else if (name == "precise") {
        fractionDigits = kPreciseDigits;
    } else {
        return false;
    }
    return true;
}

TailOutput::TailOutput(const TailFormat& format, std::FILE* out) : m_format(format), m_out(out) {
    if (m_format.kind == TailFormat::Kind::TraceEvent) {
        TraceEventWriter::begin(m_text);
        flushText();
    }
}

void TailOutput::write(const TraceRecord& record, std::uint32_t lineNumber) {
    const ScopeTimes::Timing timing = m_times.follow(record, lineNumber);
    if (m_format.kind == TailFormat::Kind::Lines) {
        writeLine(record, lineNumber, timing);
        return;
    }
    // The exports need the line's depth, which the formatter keeps.
    static_cast<void>(m_formatter.formatLine(record, lineNumber));
    const ExportedRecord exported{ExportedFields::of(record), lineNumber, m_formatter.shownDepth(), timing};
    m_formatter.storeDepth();
    if (m_format.kind == TailFormat::Kind::JsonLines)
        appendJsonLine(exported, m_text);
    else
        m_traceEvents.append(exported, m_text);
    flushText();
}

void TailOutput::skip(const TraceRecord& record, std::uint32_t lineNumber) {
    static_cast<void>(m_times.follow(record, lineNumber));
    static_cast<void>(m_formatter.formatLine(record, lineNumber));
    m_formatter.storeDepth();
}

void TailOutput::writeLine(const TraceRecord& record, std::uint32_t lineNumber,
                           const ScopeTimes::Timing& timing) {
    const std::string_view line = m_formatter.formatLine(record, lineNumber);
    m_formatter.storeDepth();
    const std::size_t timeEnd = m_format.fractionDigits > 0 && timing.precise
                                    ? timeColumnEnd(line)
                                    : std::string_view::npos;
    if (timeEnd == std::string_view::npos) {
        m_text.append(line);
    } else {
        char fraction[16];
        m_text.append(line.substr(0, timeEnd));
        m_text.append(formatFraction(record.nanoseconds, m_format.fractionDigits, fraction));
        m_text.append(line.substr(timeEnd));
    }
    if (m_format.durations) {
        // One more column: the duration of the scope a leave closes, and any records of its
        // sender lost just before it.
        m_text += '\t';
        if (timing.closesScope) {
            char duration[kDurationTextSize];
            m_text.append(duration, formatDuration(timing.duration, duration));
        }
        if (timing.lostBefore > 0) {
            if (timing.closesScope) m_text += "; ";
            m_text += std::to_string(timing.lostBefore) + " lost before";
        }
    }
    if (m_format.colour) {
        m_coloured.clear();
        appendColouredLine(m_text, record.senderKey, m_coloured);
        m_text.swap(m_coloured);
    }
    m_text += '\n';
    flushText();
}

void TailOutput::finish() {
    if (m_format.kind == TailFormat::Kind::TraceEvent) {
        m_traceEvents.finish(m_text);
        flushText();
    }
}

void TailOutput::flushText() {
    std::fwrite(m_text.data(), 1, m_text.size(), m_out);
    m_text.clear();
}
