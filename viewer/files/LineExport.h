#pragma once
#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "records/TraceExport.h"
#include "viewer/files/LineColumns.h"
#include "viewer/files/LogFileWriter.h"
#include "viewer/lines/LineTimes.h"

class CLogListModel;
class SavedFile;

// Exports a window's lines, oldest first, to a file for the tools people analyse timing with:
// Trace Event JSON (a flame chart in Perfetto, chrome://tracing, speedscope) or JSON Lines (jq),
// written by the writers quorvane-tail uses (records/TraceExport.h).
//
// Each line is taken apart into its columns (LineColumns) and becomes one record again. Scopes are
// read from the indentation, per sender: a line is an entry when its sender's next line is one
// tab deeper, and the leave of an open entry is the sender's line back at the entry's depth with
// the entry's name and no text. So lines that still have their indentation export their scopes
// whatever wrote them; a file saved by the viewer has none left (Save reduces tab runs to one).
// Where the live window's LineTimes has more, the record gets it: the nanoseconds, the durations,
// the losses, and the entry of a scope closed right after it opened. Lines carry the time of day
// only: the date comes from the caller (LineDates).
//
// The work goes in steps of a bounded number of lines, first a look through the lines (which
// lines are entries, how many days they span: one bit per line), then the writing, in chunks
// through SavedFile, so a failed export leaves the old file as it was. Lines that arrive during
// the export are not part of it; the model must not be cleared before it ends.
class LineExport {
  public:
    enum class Format { TraceEvent, JsonLines };

    // Where the lines' times of day get their dates.
    struct Dating {
        enum class From { FirstLine, LastLine };
        From from;
        // FirstLine: a time on the first line's date (the live window's first record);
        // LastLine: a time shortly after the last line (when its file was written).
        std::int64_t seconds;
    };

    // Lines gone through in one step between turns of the event loop: a few milliseconds.
    static constexpr std::size_t kStepLines = 10'000;
    // Lines written to the buffer before it goes to the file.
    static constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

    // Opens `path` for an export of the lines `model` shows now. `times` may be null (a saved
    // log's window); it and `model` must outlive the export.
    LineExport(const CLogListModel& model, const LineTimes* times, Dating dating, Format format,
               const QString& path);
    LineExport(const LineExport&) = delete;
    LineExport& operator=(const LineExport&) = delete;
    // An export not finished leaves no file behind (unless it was rewriting one in place).
    ~LineExport();

    // Works through up to `lines` lines; false once the export has ended, done or failed.
    bool step(std::size_t lines);
    // Steps until the end.
    SaveResult run();

    bool ended() const { return m_phase == Phase::Ended; }
    // How the export ended; meaningful once ended().
    SaveResult result() const;
    std::size_t lineCount() const { return m_lineCount; }
    // True when the file is being rewritten where it is (see SavedFile): an export stopped before
    // its end leaves it incomplete.
    bool rewritesInPlace() const;
    // Lines gone through so far, counting both passes (0 .. 2 * lineCount()).
    std::size_t progress() const;

  private:
    enum class Phase { Survey, Write, Ended };
    struct OpenEntry {
        std::string name;
        std::int32_t depth;
        std::uint32_t line;
        std::int64_t duration;  // LineTimes' for a closed scope, otherwise -1
    };

    std::string_view lineAt(std::size_t index) const;
    void survey(std::size_t index);
    void startWriting();
    void write(std::size_t index);
    // The depth delta of line `index` of `columns`, from the entries its sender has open and
    // LineTimes' `note` (may be null); sets `entryLine` for a leave.
    std::int32_t scopeDelta(std::size_t index, const LineColumns& columns,
                            const LineTimes::Note* note, std::uint32_t& entryLine);
    void flushIfFull();
    void end();

    const CLogListModel& m_model;
    const LineTimes* m_times;
    const Dating m_dating;
    const Format m_format;
    std::unique_ptr<SavedFile> m_file;
    Phase m_phase = Phase::Survey;
    std::size_t m_topCount;
    std::size_t m_lineCount;
    std::size_t m_next = 0;

    // The survey: which lines are entries, and the day count over the lines.
    std::vector<bool> m_entries;
    struct LastLine {
        std::size_t index;
        std::int32_t depth;
    };
    std::unordered_map<std::uint32_t, LastLine> m_lastLines;
    DayCount m_days;

    // The writing.
    std::unique_ptr<LineDates> m_dates;
    std::unordered_map<std::uint32_t, std::vector<OpenEntry>> m_open;
    TraceEventWriter m_traceEvents;
    std::string m_text;
};

// What the user is told when the export to `path` failed: the path, the system's reason and
// whether the file that was there is unchanged.
QString exportFailureText(const QString& path, const SaveResult& result);
