#include "viewer/files/LineExport.h"

#include <QFile>
#include <algorithm>
#include <cstring>

#include "viewer/files/SavedFile.h"
#include "viewer/lines/CLogListModel.h"
#include "viewer/lines/LineTimes.h"

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

// A line's fields as an export writes them, at `timestamp` (and `nanoseconds` within it); lines
// keep no sequence number. A line of another shape is kept whole as the text, as much of it as a
// record's text field holds.
ExportedFields fieldsOf(const LineColumns& columns, std::string_view line, std::int64_t timestamp,
                        std::uint32_t nanoseconds, std::int32_t depthDelta) {
    ExportedFields fields;
    fields.senderKey = columns.senderKey;
    fields.timestamp = timestamp;
    fields.nanoseconds = nanoseconds;
    fields.hasSequence = false;
    fields.depthDelta = depthDelta;
    if (!columns.hasColumns) {
        fields.text = line.substr(0, TraceRecord::kEntryTextSize);
        return fields;
    }
    fields.origin = columns.origin;
    fields.name = columns.name;
    fields.text = columns.text;
    return fields;
}

}  // namespace

LineExport::LineExport(const CLogListModel& model, const LineTimes* times, Dating dating,
                       Format format, const QString& path)
    : m_model(model),
      m_times(times),
      m_dating(dating),
      m_format(format),
      m_file(std::make_unique<SavedFile>(QFile::encodeName(path).toStdString())),
      m_topCount(model.topCount()),
      m_lineCount(model.size()) {
    if (m_file->error() != 0) {
        m_phase = Phase::Ended;
        return;
    }
    // Where every line came from a record with precise time, LineTimes knows each scope and the
    // lines are dated from the first: nothing is left for a survey to find.
    if (m_times != nullptr && m_dating.from == Dating::From::FirstLine &&
        m_times->lineCount() == m_lineCount && m_times->linesWithoutTime() == 0) {
        startWriting();
    } else {
        m_entries.assign(m_lineCount, false);
    }
    m_text.reserve(kChunkBytes + kChunkBytes / 4);
}

LineExport::~LineExport() = default;

bool LineExport::step(std::size_t lines) {
    while (lines > 0 && m_phase != Phase::Ended) {
        const std::size_t last = m_next + std::min(lines, m_lineCount - m_next);
        lines -= last - m_next;
        if (m_phase == Phase::Survey) {
            for (; m_next < last; ++m_next) survey(m_next);
            if (m_next == m_lineCount) startWriting();
        } else {
            for (; m_next < last && m_phase == Phase::Write; ++m_next) write(m_next);
            if (m_next == m_lineCount && m_phase == Phase::Write) end();
        }
    }
    return m_phase != Phase::Ended;
}

SaveResult LineExport::run() {
    while (step(m_lineCount + 1)) {
    }
    return result();
}

SaveResult LineExport::result() const {
    return SaveResult{m_file->error(), m_file->damagedTarget()};
}

bool LineExport::rewritesInPlace() const {
    return m_file->writesInPlace();
}

std::size_t LineExport::progress() const {
    switch (m_phase) {
        case Phase::Survey:
            return m_next;
        case Phase::Write:
            return m_lineCount + m_next;
        case Phase::Ended:
            break;
    }
    return 2 * m_lineCount;
}

std::string_view LineExport::lineAt(std::size_t index) const {
    // Lines put on top are shown newest first, above any at the bottom; rows move down as lines
    // arrive on top, so they are found from the count shown now.
    const std::size_t shownOnTop = m_model.topCount();
    if (index < m_topCount) return m_model.line(shownOnTop - 1 - index);
    return m_model.line(shownOnTop + (index - m_topCount));
}

void LineExport::survey(std::size_t index) {
    const LineColumns columns = splitLineHead(lineAt(index));
    if (!columns.hasColumns) return;
    m_days.follow(columns.secondOfDay);
    const auto [last, added] =
        m_lastLines.try_emplace(columns.senderKey, LastLine{index, columns.depth});
    if (added) return;
    if (columns.depth == last->second.depth + 1) m_entries[last->second.index] = true;
    last->second = {index, columns.depth};
}

void LineExport::startWriting() {
    m_lastLines = {};
    m_dates = std::make_unique<LineDates>(
        m_dating.from == Dating::From::FirstLine
            ? LineDates::startingOn(m_dating.seconds)
            : LineDates::endingNear(m_dating.seconds, m_days.day(), m_days.lastSecondOfDay()));
    if (m_format == Format::TraceEvent) TraceEventWriter::begin(m_text);
    m_phase = Phase::Write;
    m_next = 0;
}

void LineExport::write(std::size_t index) {
    const std::string_view line = lineAt(index);
    const LineColumns columns = splitLine(line);
    const std::int64_t seconds = m_dates->next(columns.secondOfDay);
    const std::uint32_t number = columns.number;  // 0 for a line of another shape
    std::uint32_t nanoseconds = LineTimes::kNoTime;
    const LineTimes::Note* note = nullptr;
    if (m_times != nullptr && columns.hasColumns) {
        nanoseconds = m_times->nanoseconds(number);
        // Only records with precise time have notes.
        if (nanoseconds != LineTimes::kNoTime) note = m_times->note(number);
    }
    const bool precise = nanoseconds != LineTimes::kNoTime;
    std::uint32_t entryLine = 0;
    const std::int32_t delta = columns.hasColumns ? scopeDelta(index, columns, note, entryLine) : 0;

    // The record is built in place: copying its fields from a temporary costs stalled stores.
    ScopeTimes::Timing timing;
    timing.precise = precise;
    timing.time = seconds * kNanosecondsPerSecond + (precise ? nanoseconds : 0);
    ExportedRecord exported{fieldsOf(columns, line, seconds, precise ? nanoseconds : 0, delta),
                            number, columns.depth, timing};
    if (m_format == Format::TraceEvent) {
        // Every line is placed in time, so that scopes without precise time (a saved log, a
        // foreign record) still nest; their times are whole seconds.
        timing.precise = true;
        m_traceEvents.append(exported, m_text);
    } else {
        const bool closed = note != nullptr && note->scope == LineTimes::Scope::Closed;
        if (note != nullptr) timing.lostBefore = note->lostBefore;
        if (delta < 0 && closed) {
            timing.closesScope = true;
            timing.entryLine = entryLine;
            timing.duration = note->duration;
        } else if (delta > 0 && closed) {
            exported.entryDuration = note->duration;
        }
        appendJsonLine(exported, m_text);
    }
    flushIfFull();
}

std::int32_t LineExport::scopeDelta(std::size_t index, const LineColumns& columns,
                                    const LineTimes::Note* note, std::uint32_t& entryLine) {
    std::vector<OpenEntry>& open = m_open[columns.senderKey];
    const bool closed = note != nullptr && note->scope == LineTimes::Scope::Closed;
    const auto closeAt = [&](std::size_t at) {
        entryLine = open[at].line;
        open.resize(at);  // entries opened inside it lost their leaves
        return -1;
    };
    // Entries deeper than this line are over: their leaves never came.
    while (!open.empty() && open.back().depth > columns.depth) open.pop_back();
    if (!open.empty() && open.back().depth == columns.depth) {
        if (columns.text.empty() && open.back().name == columns.name)
            return closeAt(open.size() - 1);
        open.pop_back();
    }
    // A lost leave leaves its sender indented one tab too deep from then on; LineTimes still
    // pairs the outer leave with its entry, and both ends carry the same duration.
    if (closed && columns.text.empty()) {
        for (std::size_t at = open.size(); at-- > 0;)
            if (open[at].duration == note->duration && open[at].name == columns.name)
                return closeAt(at);
    }
    // LineTimes knows the entries of scopes that closed before anything was traced inside them.
    const bool noteSaysScope = note != nullptr && note->scope != LineTimes::Scope::None;
    const bool indentedEntry = !m_entries.empty() && m_entries[index];
    if ((indentedEntry || noteSaysScope) && open.size() < ScopeTimes::kMaxOpenScopes) {
        open.push_back({std::string(columns.name), columns.depth, columns.number,
                        closed ? note->duration : -1});
        return 1;
    }
    return 0;
}

void LineExport::flushIfFull() {
    if (m_text.size() < kChunkBytes) return;
    const bool written = m_file->write(m_text);
    m_text.clear();
    if (!written) m_phase = Phase::Ended;
}

void LineExport::end() {
    if (m_format == Format::TraceEvent) m_traceEvents.finish(m_text);
    if (m_file->write(m_text)) m_file->commit();
    m_text = {};
    m_open = {};
    m_entries = {};
    m_phase = Phase::Ended;
}

QString exportFailureText(const QString& path, const SaveResult& result) {
    const QString consequence = result.damagedTarget
                                    ? QStringLiteral(
                                          "The file was being rewritten in place and is "
                                          "now incomplete.")
                                    : QStringLiteral("No file was changed.");
    return QStringLiteral("The lines could not be exported to \"%1\": %2.\n%3")
        .arg(path, result.reason(), consequence);
}
