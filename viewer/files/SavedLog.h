#pragma once
#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

#include "viewer/lines/LineStore.h"

// A saved log opened to be read: the file is mapped, or read when the system makes it up as it
// is read (FileMapping), and its lines are indexed in place, so their bytes are never copied and
// each line costs 2 to 4 bytes of index (LineStore). A line ends at LF, with or without CR
// before it; a last line without an end counts too. Lines are kept without their ends and
// otherwise exactly as in the file.
//
// What is not a saved log is refused with the reason in one sentence: a file that cannot be
// opened, a directory or other non-regular file, one past the viewer's limit of files mapped at
// once, a NUL byte or many control bytes at its start (binary data), a line longer than
// kMaxLineLength, more than kMaxLines lines, or a file without a size that reads on past
// FileMapping::kMaxReadLength. An empty file is a log without lines.
class SavedLog {
  public:
    // Far above the longest line the viewer writes (a few KiB), and short enough that a file
    // without line ends is refused rather than shown as one giant row.
    static constexpr std::size_t kMaxLineLength = std::size_t{64} << 10;
    // How much of the start is looked at for binary data.
    static constexpr std::size_t kSniffLength = std::size_t{64} << 10;
    // More control bytes than one in this many of the start (besides tab, CR, LF, form feed and
    // escape, which text may hold) means binary data. The viewer writes other control bytes of
    // a record's text as they are, so a few are allowed.
    static constexpr std::size_t kControlByteShare = 32;
    // The list counts its rows in an int.
    static constexpr std::size_t kMaxLines = std::numeric_limits<int>::max();

    // Opens and indexes the file at `path`, a name in the system's 8-bit encoding.
    static SavedLog open(const std::string& path);

    bool isOpen() const { return m_failure.empty(); }
    // Why the file could not be opened, e.g. "it is a directory"; empty when it was.
    const std::string& failure() const { return m_failure; }
    std::size_t fileSize() const { return m_fileSize; }
    // The lines, oldest first; they keep the mapping alive.
    LineStore& lines() { return m_lines; }
    const LineStore& lines() const { return m_lines; }

    // Why `bytes` are not a saved log's, or empty when they may be.
    static std::string binaryContentReason(std::string_view bytes);

  private:
    LineStore m_lines;
    std::string m_failure;
    std::size_t m_fileSize = 0;
};
