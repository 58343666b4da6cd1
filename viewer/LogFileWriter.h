#pragma once
#include <QString>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

class CLogListModel;

// Writes the lines of the log list to a tab-delimited text file, oldest line first, each with
// every run of tabs reduced to one tab and ended by CR LF, its bytes otherwise unchanged.
//
// The file is written beside the target under a temporary name and put in place only when every
// byte is written, so a failed save leaves an existing file as it was. One buffer is reused
// across lines and saves.
class LogFileWriter {
  public:
    LogFileWriter();

    // Writes lines 0 .. lineCount - 1 of `model` (no more than it holds) to `path`. With
    // `newestOnTop` the lines were put on top, so the oldest is the last row and the rows are
    // visited from the bottom up; otherwise from the top down. Returns whether the file is in
    // place with every byte written.
    bool write(const QString& path, const CLogListModel& model, std::uint32_t lineCount,
               bool newestOnTop);

    // Appends `line` as a saved file holds it: tab runs collapsed, then CR LF.
    static void appendSavedLine(std::string& out, std::string_view line);

  private:
    std::string m_buffer;
};

// The file name proposed for a save at `when`: local time as "%Y%m%d%H%M%S", or an empty text
// when the time cannot be converted.
std::string defaultSaveFileName(std::time_t when);
