#pragma once
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// Lines of a file descriptor read in bounded memory: the first `maxLength` bytes of each line are
// kept, the rest is read past and counted, so that a line without end costs no more than a short
// one. A last line without a line end counts as a line.
class LineReader {
  public:
    // A read interrupted by a signal ends the input when `stopRequested` (may be null) is set.
    LineReader(int fd, std::size_t maxLength, const volatile std::sig_atomic_t* stopRequested);

    // The next line without its line end, valid (and followed by a NUL byte) until the next
    // call; false at the end of the input, after a read error (error() says which) or a stop.
    bool next(std::string_view& line);
    // The bytes of the last line read past, beyond the first maxLength.
    std::uint64_t skipped() const { return m_skipped; }
    // The errno value of a failed read, 0 when none failed.
    int error() const { return m_error; }

  private:
    // Refills the buffer; false at the end of the input, after an error or a stop.
    bool fill();

    int m_fd;
    std::size_t m_maxLength;
    const volatile std::sig_atomic_t* m_stopRequested;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::string m_line;
    std::uint64_t m_skipped = 0;
    int m_error = 0;
};
