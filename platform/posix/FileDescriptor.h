#pragma once
#include <unistd.h>

#include <cerrno>

namespace quorvane::platform {

// Owns a file descriptor and closes it when it goes.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }

    int get() const { return m_fd; }
    // Gives the descriptor up to the caller.
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    // Closes now so that a failing close is seen; returns 0 or errno.
    int close() {
        const int fd = release();
        return ::close(fd) == 0 ? 0 : errno;
    }

  private:
    int m_fd;
};

}  // namespace quorvane::platform
