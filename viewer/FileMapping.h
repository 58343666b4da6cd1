#pragma once
#include <cstddef>
#include <string>
#include <string_view>

// A regular file mapped read-only into memory, at the size it had when it was opened; bytes
// added later are not seen. Nothing is read until it is touched, and what is read stays in the
// system's file cache, so a large file is not held a second time in the process's own memory.
//
// A file another process truncates while mapped would make its vanished pages raise SIGBUS when
// touched, whether the mapping is shared or private (truncation discards private pages too). A
// process-wide SIGBUS handler therefore puts a page of zero bytes in place of each such page of
// a mapping made here and lets the read go on: the lines past the new end read as NUL bytes
// instead of ending the viewer. Any other SIGBUS gets the handling it had before.
class FileMapping {
  public:
    enum class Status { Mapped, SystemError, Directory, NotRegularFile };

    // Maps the file at `path`, a name in the system's 8-bit encoding.
    explicit FileMapping(const std::string& path);
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;
    ~FileMapping();

    Status status() const { return m_status; }
    // For SystemError, the system's error number.
    int error() const { return m_error; }
    // The file's bytes as they were at opening; empty for an empty file or a failure.
    std::string_view bytes() const { return {m_data, m_size}; }

    // Mappings that can be guarded against truncation at once; more are refused with ENFILE.
    static constexpr std::size_t kMaxGuardedMappings = 256;

  private:
    Status m_status = Status::SystemError;
    int m_error = 0;
    const char* m_data = nullptr;
    std::size_t m_size = 0;
};
