#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "records/ScopeTimes.h"
#include "records/TraceRecord.h"

// Records written for the tools people analyse timing with, one record at a time, appended to a
// string the caller writes out:
//   JSON Lines: one object per record with every field, its depth, and its precise time, sequence
//   number and duration where it carries them ("jq" reads it);
//   Trace Event Format: the JSON that Perfetto's UI, chrome://tracing and speedscope open as a
//   flame chart. Each origin is a process (pid numbered in order of appearance, named by a
//   metadata event), each sender key a thread; precise scopes become B/E pairs nested per thread,
//   every other record an instant event. Times are microseconds since 1970.
// Text fields are raw bytes: valid UTF-8 passes, any other byte is taken as Latin-1.

// One record as an export sees it.
struct ExportedRecord {
    const TraceRecord& record;
    std::uint32_t lineNumber;
    std::int32_t depth;                // as the line is indented
    const ScopeTimes::Timing& timing;  // from ScopeTimes::follow
    // For an entry line whose scope has closed, when the exporter already knows: its duration.
    std::int64_t entryDuration = -1;
};

void appendJsonLine(const ExportedRecord& exported, std::string& out);

class TraceEventWriter {
  public:
    // The opening of the document.
    static void begin(std::string& out);
    void append(const ExportedRecord& exported, std::string& out);
    // Closes the scopes still open at the last record's time, marked unfinished, and the document.
    void finish(std::string& out);

  private:
    struct Open {
        std::uint32_t pid;
        std::uint32_t tid;
        std::string name;
    };

    std::uint32_t pidOf(const TraceRecord& record, std::string& out);
    void appendEnd(const Open& open, std::int64_t time, bool unfinished, std::string& out);

    std::unordered_map<std::string, std::uint32_t> m_pids;
    // Per thread, the B events without their E yet, outermost first.
    std::unordered_map<std::uint64_t, std::vector<Open>> m_open;
    std::int64_t m_lastTime = 0;
    bool m_first = true;
};

// Appends `text` as the contents of a JSON string (no quotes).
void appendJsonText(std::string_view text, std::string& out);
