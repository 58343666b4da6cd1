#pragma once
#include <QString>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

class CLogListModel;

// How a save ended.
struct SaveResult {
    // The system's error number of the failure, 0 when the file is in place with every byte.
    int error = 0;
    // True when the failure hit a file that was being rewritten in place: it is incomplete.
    bool damagedTarget = false;
    // The lines written, when the save succeeded.
    std::size_t lines = 0;

    explicit operator bool() const { return error == 0; }
    // The system's reason for the failure, e.g. "No space left on device".
    QString reason() const;
};

// Writes the lines of the log list to a tab-delimited text file, oldest line first, each with
// every run of tabs reduced to one tab and ended by CR LF, its bytes otherwise unchanged.
//
// The file is put in place as SavedFile describes: through a replacement renamed over the old
// file, so a failed save leaves it as it was, or rewritten in place where a replacement would
// split hard links, change its owner or is barred by its folder. One buffer is reused across
// lines and saves.
class LogFileWriter {
  public:
    LogFileWriter();

    // Writes lines 0 .. lineCount - 1 of `model` (no more than it holds) to `path`. With
    // `newestOnTop` the lines were put on top, so the oldest is the last row and the rows are
    // visited from the bottom up; otherwise from the top down.
    SaveResult write(const QString& path, const CLogListModel& model, std::uint32_t lineCount,
                     bool newestOnTop);

    // Appends `line` as a saved file holds it: tab runs collapsed, then CR LF.
    static void appendSavedLine(std::string& out, std::string_view line);

  private:
    std::string m_buffer;
};

// What the user is told when saving to `path` failed: the path, the system's reason and whether
// the file that was there is unchanged.
QString saveFailureText(const QString& path, const SaveResult& result);

// What the user is told after `lines` lines were saved to `path`: how many went where, how many
// lines taken from the mailbox are not in the file because a pause holds them back
// (`heldBack`), and how many are in it though the window does not show them (`hidden`, for the
// reason `hiddenBy`, e.g. "hidden by the filter").
QString saveReportText(const QString& path, std::size_t lines, std::size_t heldBack,
                       std::size_t hidden, const QString& hiddenBy);

// The file name proposed for a save at `when`: local time as "%Y%m%d%H%M%S", or an empty text
// when the time cannot be converted.
std::string defaultSaveFileName(std::time_t when);
