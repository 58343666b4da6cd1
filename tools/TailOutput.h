#pragma once
// How quorvane-tail writes each record it takes: the viewer's line (optionally with the precise
// time and a column of durations and losses), JSON Lines, or a Trace Event document.
#include <cstdint>
#include <cstdio>
#include <string>

#include "records/DepthTable.h"
#include "records/LineFormatter.h"
#include "records/ScopeTimes.h"
#include "records/TraceExport.h"

struct TailFormat {
    enum class Kind { Lines, JsonLines, TraceEvent };
    Kind kind = Kind::Lines;
    // Digits after the seconds in the lines' time column: 0, or 6 with --time=precise.
    int fractionDigits = 0;
    bool durations = false;
    // The lines painted for a terminal (TailColour); the JSON formats are never coloured.
    bool colour = false;

    // The argument of --format and --time; false for one it does not know.
    bool setKind(const char* argument);
    bool setTime(const char* argument);
};

class TailOutput {
  public:
    TailOutput(const TailFormat& format, std::FILE* out);
    TailOutput(const TailOutput&) = delete;
    TailOutput& operator=(const TailOutput&) = delete;

    void write(const TraceRecord& record, std::uint32_t lineNumber);
    // Follows a record that is not printed, so the depths and durations of the lines printed
    // after it are still right.
    void skip(const TraceRecord& record, std::uint32_t lineNumber);
    // Ends the document (a Trace Event export closes the scopes still open).
    void finish();

  private:
    void writeLine(const TraceRecord& record, std::uint32_t lineNumber,
                   const ScopeTimes::Timing& timing);
    void flushText();

    const TailFormat m_format;
    std::FILE* const m_out;
    DepthTable m_depths;
    LineFormatter m_formatter{m_depths};
    ScopeTimes m_times;
    TraceEventWriter m_traceEvents;
    std::string m_text;  // reused for every record
    std::string m_coloured;
};
