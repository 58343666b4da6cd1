#pragma once
// Helpers for tests that need real processes: run a function in a forked child, talk to it over
// a pipe, kill it, and read its exit status.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

namespace quorvane::test {

// A name no other test run can be using at the same time.
inline std::string uniqueName(const std::string& stem) {
    static int counter = 0;
    return "qtest-" + stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

// One forked child running `body`; its return value is the exit status. The child never returns
// into the test framework: it leaves with _exit so that no destructor of the parent's objects
// runs twice.
class ChildProcess {
  public:
    explicit ChildProcess(const std::function<int(ChildProcess&)>& body) {
        if (::pipe(m_toParent) != 0 || ::pipe(m_toChild) != 0) return;
        std::fflush(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(m_toParent[0]);
            ::close(m_toChild[1]);
            m_inChild = true;
            int status = 99;
            try {
                status = body(*this);
            } catch (...) {
                status = 98;
            }
            ::_exit(status);
        }
        ::close(m_toParent[1]);
        ::close(m_toChild[0]);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (m_pid > 0 && !m_reaped) {
            ::kill(m_pid, SIGKILL);
            wait();
        }
        ::close(m_inChild ? m_toParent[1] : m_toParent[0]);
        ::close(m_inChild ? m_toChild[0] : m_toChild[1]);
    }

    bool started() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }

    // One byte from the other side; the child calls signal(), the parent awaitSignal().
    void signal(char value = 'x') {
        int fd = m_inChild ? m_toParent[1] : m_toChild[1];
        (void)!::write(fd, &value, 1);
    }
    // Returns the byte, or 0 when the other side closed its end (or died) first.
    char awaitSignal() {
        int fd = m_inChild ? m_toChild[0] : m_toParent[0];
        char value = 0;
        return ::read(fd, &value, 1) == 1 ? value : 0;
    }

    void kill(int signalNumber = SIGKILL) { ::kill(m_pid, signalNumber); }

    // Waits for the child; returns its exit status, or 128 + signal number when it was killed.
    int wait() {
        if (m_reaped) return m_status;
        int raw = 0;
        while (::waitpid(m_pid, &raw, 0) < 0) {
        }
        m_reaped = true;
        m_status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return m_status;
    }

  private:
    pid_t m_pid = -1;
    int m_toParent[2] = {-1, -1};
    int m_toChild[2] = {-1, -1};
    bool m_inChild = false;
    bool m_reaped = false;
    int m_status = -1;
};

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace quorvane::test
