#include "tests/support/RsyslogRig.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

namespace quorvane::test {

namespace {

constexpr auto kPollPause = std::chrono::milliseconds(20);

// Writes `config` beside the daemon's other files; returns its path.
std::string writeConfig(const std::string& directory, const std::string& name,
                        const std::string& config) {
    std::string path = directory + "/" + name + ".conf";
    std::ofstream(path) << config;
    return path;
}

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

}  // namespace

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    ::close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

int connectTo(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
    ::close(fd);
    return -1;
}

bool accepts(std::uint16_t port) {
    const int fd = connectTo(port);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool waitListening(std::uint16_t port) {
    const auto deadline = std::chrono::steady_clock::now() + kDaemonStartLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (accepts(port)) return true;
        std::this_thread::sleep_for(kPollPause);
    }
    return false;
}

std::string rsyslogd() {
    for (const char* path : {"/usr/sbin/rsyslogd", "/sbin/rsyslogd", "/usr/local/sbin/rsyslogd"}) {
        if (::access(path, X_OK) == 0) return path;
    }
    return std::string();
}

std::string collectorConfig(const std::string& workDirectory, std::uint16_t port,
                            const std::string& sendLog) {
    std::string snippet = readFile(QUORVANE_DEPLOY_DIR "/quorvane-collector.conf");
    snippet = replaced(snippet, "port=\"@PORT@\"",
                       "port=\"" + std::to_string(port) + "\" address=\"127.0.0.1\"");
    snippet = replaced(snippet, "@QUORVANE_SEND@", QUORVANE_SEND);
    snippet = replaced(snippet, "/var/log/quorvane-send.log", sendLog);
    return "global(workDirectory=\"" + workDirectory + "\" net.enableDNS=\"off\")\n" + snippet;
}

std::string relayConfig(const std::string& workDirectory, std::uint16_t relayPort,
                        std::uint16_t collectorPort, const std::string& socketPath) {
    std::string snippet = readFile(QUORVANE_DEPLOY_DIR "/quorvane-traced.conf");
    snippet = replaced(snippet, "@COLLECTOR@", "127.0.0.1");
    snippet = replaced(snippet, "@PORT@", std::to_string(collectorPort));
    snippet = replaced(snippet, "/run/quorvane-syslog.sock", socketPath);
    return "global(workDirectory=\"" + workDirectory + "\" net.enableDNS=\"off\")\n" +
           "module(load=\"imuxsock\" SysSock.Use=\"off\")\n"
           "module(load=\"imtcp\")\n"
           "input(type=\"imtcp\" port=\"" +
           std::to_string(relayPort) + "\" address=\"127.0.0.1\" ruleset=\"quorvane-forward\")\n" +
           snippet;
}

LoggedProcess::LoggedProcess(const std::vector<std::string>& arguments, const std::string& logPath,
                             const Environment& environment) {
    // The shell appends both outputs to the log and then becomes the program.
    std::vector<std::string> command = {"/bin/sh", "-c", "exec \"$@\" >>\"$0\" 2>&1", logPath};
    command.insert(command.end(), arguments.begin(), arguments.end());
    m_process = std::make_unique<Subprocess>(command, environment);
}

int LoggedProcess::stop() {
    if (!m_process) return m_status;
    m_process->signal(SIGTERM);
    m_status = m_process->finish(kDaemonStartLimit).status;
    m_process.reset();
    return m_status;
}

RsyslogDaemon::RsyslogDaemon(const std::string& directory, const std::string& name,
                             const std::string& config, const Environment& environment)
    : m_log(directory + "/" + name + ".log"),
      m_process({rsyslogd(), "-n", "-f", writeConfig(directory, name, config), "-i",
                 directory + "/" + name + ".pid"},
                m_log, environment) {}

}  // namespace quorvane::test
