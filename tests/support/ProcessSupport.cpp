#include "tests/support/ProcessSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

extern char** environ;

namespace quorvane::test {

namespace {

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Waits for `pid` until `deadline`; kills it past the deadline. Returns statusCode() or -1.
int reap(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return statusCode(status);
        if (done < 0 && errno != EINTR) return -1;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        usleep(1000);
    }
}

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

int statusCode(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return -1;
}

ChildProcess::ChildProcess(const std::function<int(ChildProcess&)>& body) {
    if (::pipe(m_toParent) != 0 || ::pipe(m_toChild) != 0) return;
    std::fflush(nullptr);
    m_pid = ::fork();
    if (m_pid == 0) {
        ::close(m_toParent[0]);
        ::close(m_toChild[1]);
        m_inChild = true;
        int status = 98;
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

ChildProcess::~ChildProcess() {
    if (m_pid > 0 && !m_reaped) {
        ::kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    ::close(m_inChild ? m_toParent[1] : m_toParent[0]);
    ::close(m_inChild ? m_toChild[0] : m_toChild[1]);
}

void ChildProcess::signal(char value) {
    const int fd = m_inChild ? m_toParent[1] : m_toChild[1];
    (void)!::write(fd, &value, 1);
}

char ChildProcess::awaitSignal() {
    const int fd = m_inChild ? m_toChild[0] : m_toParent[0];
    char value = 0;
    return ::read(fd, &value, 1) == 1 ? value : 0;
}

void ChildProcess::kill(int signalNumber) {
    if (m_pid > 0 && !m_reaped) ::kill(m_pid, signalNumber);
}

int ChildProcess::wait(std::chrono::milliseconds limit) {
    if (m_pid <= 0) return -1;
    if (!m_reaped) {
        m_status = reap(m_pid, std::chrono::steady_clock::now() + limit);
        m_reaped = true;
    }
    return m_status;
}

Event::Event() {
    if (pipe2(m_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}

Event::~Event() {
    closeFd(m_fds[0]);
    closeFd(m_fds[1]);
}

void Event::notify() {
    const char byte = 1;
    while (::write(m_fds[1], &byte, 1) < 0 && errno == EINTR) {
    }
}

bool Event::await(std::chrono::milliseconds limit) {
    pollfd entry{m_fds[0], POLLIN, 0};
    if (poll(&entry, 1, static_cast<int>(limit.count())) != 1) return false;
    char byte = 0;
    return ::read(m_fds[0], &byte, 1) == 1;
}

Subprocess::Subprocess(const std::vector<std::string>& arguments,
                       const std::vector<std::pair<std::string, std::string>>& environment) {
    // Everything the child needs is prepared here: after fork it only duplicates and execs.
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text = *entry;
        bool replaced = false;
        for (const auto& [name, value] : environment) {
            replaced = replaced || (text.starts_with(name) && text.size() > name.size() &&
                                    text[name.size()] == '=');
        }
        if (!replaced) variables.emplace_back(text);
    }
    for (const auto& [name, value] : environment) {
        std::string variable = name;
        variable += '=';
        variable += value;
        variables.push_back(std::move(variable));
    }
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::vector<std::string> argumentCopies = arguments;
    std::vector<char*> argv;
    for (std::string& argument : argumentCopies) argv.push_back(argument.data());
    argv.push_back(nullptr);

    int input[2];
    int output[2];
    int error[2];
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0 ||
        pipe2(error, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    m_pid = fork();
    if (m_pid < 0) throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        dup2(input[0], STDIN_FILENO);
        dup2(output[1], STDOUT_FILENO);
        dup2(error[1], STDERR_FILENO);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    ::close(error[1]);
    m_input = input[1];
    m_output = output[0];
    m_error = error[0];
    // A reader that ended early must not kill the test with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
}

Subprocess::~Subprocess() {
    closeFd(m_input);
    closeFd(m_output);
    closeFd(m_error);
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

bool Subprocess::writeInput(std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(m_input, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

void Subprocess::closeInput() {
    closeFd(m_input);
}

bool Subprocess::fill(std::chrono::steady_clock::time_point deadline) {
    pollfd entries[2] = {{m_output, POLLIN, 0}, {m_error, POLLIN, 0}};
    const int ready = poll(entries, 2, remainingMs(deadline));
    if (ready <= 0) return ready < 0 && errno == EINTR;
    bool progressed = false;
    char chunk[4096];
    for (int i = 0; i < 2; ++i) {
        if (entries[i].fd < 0 || entries[i].revents == 0) continue;
        int& fd = i == 0 ? m_output : m_error;
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0) {
            (i == 0 ? m_pendingOutput : m_errorText).append(chunk, static_cast<std::size_t>(got));
        } else {
            closeFd(fd);
        }
        progressed = true;
    }
    return progressed;
}

std::optional<std::string> Subprocess::readLine(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (const std::size_t newline = m_pendingOutput.find('\n'); newline != std::string::npos) {
            std::string line = m_pendingOutput.substr(0, newline);
            m_pendingOutput.erase(0, newline + 1);
            return line;
        }
        if (m_output < 0 && m_error < 0) return std::nullopt;
        if (!fill(deadline)) return std::nullopt;
    }
}

void Subprocess::signal(int signalNumber) {
    if (m_pid > 0) kill(m_pid, signalNumber);
}

Subprocess::Result Subprocess::finish(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    closeInput();
    while ((m_output >= 0 || m_error >= 0) && fill(deadline)) {
    }
    Result result;
    result.status = reap(m_pid, deadline);
    m_pid = -1;
    result.out = std::move(m_pendingOutput);
    result.err = std::move(m_errorText);
    return result;
}

Subprocess::Result run(const std::vector<std::string>& arguments, std::string_view input,
                       const std::vector<std::pair<std::string, std::string>>& environment) {
    Subprocess process(arguments, environment);
    process.writeInput(input);
    return process.finish();
}

std::string uniqueName(std::string_view stem) {
    static std::atomic<int> counter{0};
    return "qtest-" + std::string(stem) + "-" + std::to_string(getpid()) + "-" +
           std::to_string(counter.fetch_add(1) + 1);
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace quorvane::test
