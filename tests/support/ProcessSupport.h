#pragma once
// Helpers for tests that need more than one process: a forked child running a function, a
// program started with pipes on its standard streams, a one-way event between processes, and
// names no other test run uses. Every wait has a generous limit so that a broken test fails
// instead of hanging.

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvane::test {

inline constexpr std::chrono::milliseconds kHangLimit{10000};

// Exit status as one number: the exit code, or 128 + the signal that ended the process.
int statusCode(int waitStatus);

// One forked child running `body`; its return value is the exit status (98 if it throws). The
// child leaves with _exit so that no destructor of the parent's objects runs twice. The two
// sides can send each other single bytes.
class ChildProcess {
  public:
    explicit ChildProcess(const std::function<int(ChildProcess&)>& body);
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Kills and reaps a child still running.
    ~ChildProcess();

    bool started() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }

    // One byte to the other side; the child calls signal(), the parent awaitSignal().
    void signal(char value = 'x');
    // Returns the byte, or 0 when the other side closed its end (or died) first.
    char awaitSignal();

    void kill(int signalNumber = SIGKILL);

    // Waits for the child's end and returns statusCode(); -1 if it did not end within `limit`
    // (it is then killed) or never started.
    int wait(std::chrono::milliseconds limit = kHangLimit);

  private:
    pid_t m_pid = -1;
    int m_toParent[2] = {-1, -1};
    int m_toChild[2] = {-1, -1};
    bool m_inChild = false;
    bool m_reaped = false;
    int m_status = -1;
};

// A one-way signal between a parent and a forked child: created before fork, notified on one
// side, awaited on the other. Each notification is one byte.
class Event {
  public:
    Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    ~Event();

    void notify();
    bool await(std::chrono::milliseconds limit = kHangLimit);

  private:
    int m_fds[2] = {-1, -1};
};

// A program started with its standard input, output and error on pipes.
class Subprocess {
  public:
    struct Result {
        int status = -1;  // see statusCode(); -1 when it had to be killed
        std::string out;
        std::string err;
    };

    // `arguments[0]` is the program's path; `environment` entries are added to (or replace
    // those of) this process's environment.
    Subprocess(const std::vector<std::string>& arguments,
               const std::vector<std::pair<std::string, std::string>>& environment = {});
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;
    ~Subprocess();

    bool writeInput(std::string_view data);
    void closeInput();
    // The next line of standard output without its newline; nullopt at its end or after `limit`.
    std::optional<std::string> readLine(std::chrono::milliseconds limit = kHangLimit);
    void signal(int signalNumber);
    // Closes standard input, reads both outputs to their end and waits for the program.
    Result finish(std::chrono::milliseconds limit = kHangLimit);

  private:
    bool fill(std::chrono::steady_clock::time_point deadline);

    pid_t m_pid = -1;
    int m_input = -1;
    int m_output = -1;
    int m_error = -1;
    std::string m_pendingOutput;
    std::string m_errorText;
};

// Runs a program to its end with `input` on its standard input.
Subprocess::Result run(const std::vector<std::string>& arguments, std::string_view input = {},
                       const std::vector<std::pair<std::string, std::string>>& environment = {});

// A name no other test (nor another run of this one) uses: "qtest-", the stem, the process id
// and a counter.
std::string uniqueName(std::string_view stem);

double secondsSince(std::chrono::steady_clock::time_point start);

}  // namespace quorvane::test
