#pragma once
#include <cstddef>
#include <string>
#include <string_view>

// A regular file's bytes as they were when it was opened; bytes added later are not seen.
//
// A file with a size is mapped read-only: nothing is read until it is touched, and what is read
// stays in the system's file cache, so a large file is not held a second time in the process's
// own memory. A file another process truncates while mapped would make its vanished pages raise
// SIGBUS when touched, whether the mapping is shared or private (truncation discards private
// pages too). A process-wide SIGBUS handler therefore puts a page of zero bytes in place of each
// such page of a mapping made here and lets the read go on: the lines past the new end read as
// NUL bytes instead of ending the viewer. Any other SIGBUS gets the handling it had before.
//
// A file the system makes up as it is read (under /proc its size reads 0; under /sys it cannot
// be mapped) is read to its end into memory of its own instead, up to a limit.
class FileMapping {
  public:
    enum class Status {
        Open,
        SystemError,
        Directory,
        NotRegularFile,
        TooManyMappings,  // kMaxGuardedMappings are in use
        ReadTooLong,      // read without a size, it went on past the limit
        ReadWouldWait,    // read without a size, it has nothing more yet but has not ended
    };

    // Maps or reads the file at `path`, a name in the system's 8-bit encoding, reading at most
    // `maxReadLength` bytes from a file that has to be read.
    explicit FileMapping(const std::string& path, std::size_t maxReadLength = kMaxReadLength);
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;
    ~FileMapping();

    Status status() const { return m_status; }
    // For SystemError, the system's error number.
    int error() const { return m_error; }
    // The file's bytes as they were at opening; empty for an empty file or a failure.
    std::string_view bytes() const { return {m_data, m_size}; }
    // True when bytes() are mapped, false when they were read (or there are none).
    bool isMapped() const { return m_mapped; }

    // Mappings that can be guarded against truncation at once; more are refused.
    static constexpr std::size_t kMaxGuardedMappings = 256;
    // Files made up as they are read run to a few MiB (/proc/kallsyms, a large process's smaps);
    // one that goes on past this has no end to show.
    static constexpr std::size_t kMaxReadLength = std::size_t{256} << 20;

  private:
    // Reads `file` to its end into m_read, at most `maxLength` bytes.
    void readToEnd(int file, std::size_t maxLength);

    Status m_status = Status::SystemError;
    int m_error = 0;
    const char* m_data = nullptr;
    std::size_t m_size = 0;
    bool m_mapped = false;
    std::string m_read;
};
