#include "tests/support/RsyslogRig.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
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

bool Certificates::make(const std::string& directory, const std::vector<std::string>& names,
                        const std::vector<std::string>& rogues, std::string& error) {
    m_directory = directory;
    // RSA 2048 and a lifetime of two days: quick to make, and enough for a test run.
    std::string script =
        "set -e; cd \"$1\"; shift\n"
        "key() { certtool --generate-privkey --key-type=rsa --bits=2048 --outfile \"$1-key.pem\" "
        "2>/dev/null; }\n"
        "template() { printf 'cn = \"%s\"\\ndns_name = \"%s\"\\nexpiration_days = 2\\n"
        "tls_www_client\\ntls_www_server\\nsigning_key\\nencryption_key\\n' \"$1\" \"$1\" "
        ">\"$1.tmpl\"; }\n"
        "printf 'cn = \"Quorvane test CA\"\\nca\\ncert_signing_key\\nexpiration_days = 2\\n' "
        ">ca.tmpl\n"
        "key ca\n"
        "certtool --generate-self-signed --load-privkey ca-key.pem --template ca.tmpl "
        "--outfile ca.pem 2>/dev/null\n"
        "while [ \"$1\" != -- ]; do key \"$1\"; template \"$1\"\n"
        "  certtool --generate-certificate --load-privkey \"$1-key.pem\" --load-ca-certificate "
        "ca.pem --load-ca-privkey ca-key.pem --template \"$1.tmpl\" --outfile \"$1.pem\" "
        "2>/dev/null; shift; done; shift\n"
        "for name; do key \"$name\"; template \"$name\"\n"
        "  certtool --generate-self-signed --load-privkey \"$name-key.pem\" --template "
        "\"$name.tmpl\" --outfile \"$name.pem\" 2>/dev/null; done\n";
    std::vector<std::string> arguments = {"/bin/sh", "-c", script, "certificates", directory};
    arguments.insert(arguments.end(), names.begin(), names.end());
    arguments.emplace_back("--");
    arguments.insert(arguments.end(), rogues.begin(), rogues.end());
    const Subprocess::Result made = run(arguments);
    if (made.status != 0) {
        error = "certtool failed: " + made.out + made.err;
        return false;
    }
    return true;
}

std::string tracedConfig(const std::string& directory, std::uint16_t collectorPort,
                         std::uint16_t inputPort, const Certificates& certificates,
                         const std::string& tlsName, std::string& error) {
    const std::string setup = QUORVANE_DEPLOY_DIR "/quorvane-rsyslog-setup";
    std::vector<std::string> traced = {setup,           "traced",
                                       "--collector",   "127.0.0.1",
                                       "--port",        std::to_string(collectorPort),
                                       "--socket",      directory + "/syslog.sock"};
    if (tlsName.empty()) {
        traced.emplace_back("--plain-relp");
    } else {
        const std::vector<std::string> tls = {"--collector-name", kCollectorName,
                                              "--ca",             certificates.ca(),
                                              "--cert",           certificates.cert(tlsName),
                                              "--key",            certificates.key(tlsName)};
        traced.insert(traced.end(), tls.begin(), tls.end());
    }
    const Subprocess::Result snippet = run(traced);
    if (snippet.status != 0) {
        error = "quorvane-rsyslog-setup traced: " + snippet.err;
        return std::string();
    }
    const std::string snippetPath = directory + "/quorvane-traced.conf";
    std::ofstream(snippetPath) << snippet.out;
    const Subprocess::Result main =
        run({setup, "main", "--work-dir", directory, "--snippet", snippetPath});
    if (main.status != 0) {
        error = "quorvane-rsyslog-setup main: " + main.err;
        return std::string();
    }
    return main.out +
           "module(load=\"imtcp\")\n"
           "input(type=\"imtcp\" port=\"" +
           std::to_string(inputPort) + "\" address=\"127.0.0.1\" ruleset=\"quorvane-forward\")\n";
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

void LoggedProcess::kill() {
    if (!m_process) return;
    m_process->signal(SIGKILL);
    m_status = m_process->finish(kDaemonStartLimit).status;
    m_process.reset();
}

RsyslogDaemon::RsyslogDaemon(const std::string& directory, const std::string& name,
                             const std::string& config, const Environment& environment)
    : m_log(directory + "/" + name + ".log"),
      m_process({rsyslogd(), "-n", "-f", writeConfig(directory, name, config), "-i",
                 directory + "/" + name + ".pid"},
                m_log, environment) {}

TcpProxy::TcpProxy(std::uint16_t target) : m_target(target) {}

bool TcpProxy::start() {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = loopback(m_port);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::pipe2(m_wake, O_CLOEXEC) != 0) {
        ::close(listener);
        return false;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this, listener] { run(listener, m_wake[0]); });
    return true;
}

void TcpProxy::kill() {
    if (!m_thread.joinable()) return;
    const char wake = 0;
    (void)!::write(m_wake[1], &wake, 1);
    m_thread.join();
    ::close(m_wake[0]);
    ::close(m_wake[1]);
    m_wake[0] = m_wake[1] = -1;
}

void TcpProxy::run(int listener, int wake) {
    // Pairs of sockets: a machine's connection and the proxy's own to the target.
    std::vector<std::pair<int, int>> pairs;
    const auto closePair = [](std::pair<int, int> pair, bool reset) {
        for (const int fd : {pair.first, pair.second}) {
            if (reset) {
                const linger abort{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            }
            ::close(fd);
        }
    };
    char buffer[65536];
    for (;;) {
        std::vector<pollfd> polled = {{wake, POLLIN, 0}, {listener, POLLIN, 0}};
        for (const auto& [inner, outer] : pairs) {
            polled.push_back({inner, POLLIN, 0});
            polled.push_back({outer, POLLIN, 0});
        }
        if (::poll(polled.data(), polled.size(), -1) < 0 && errno != EINTR) break;
        if (polled[0].revents != 0) break;
        if ((polled[1].revents & POLLIN) != 0) {
            const int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (accepted >= 0) {
                const int outer = connectTo(m_target);
                if (outer < 0) {
                    ::close(accepted);
                } else {
                    pairs.emplace_back(accepted, outer);
                }
            }
        }
        std::vector<std::pair<int, int>> open;
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            bool ended = false;
            for (int side = 0; side < 2 && !ended; ++side) {
                const pollfd& one = polled[2 + 2 * i + static_cast<std::size_t>(side)];
                if (one.revents == 0) continue;
                const int from = side == 0 ? pairs[i].first : pairs[i].second;
                const int to = side == 0 ? pairs[i].second : pairs[i].first;
                const ssize_t got = ::read(from, buffer, sizeof buffer);
                if (got <= 0) {
                    ended = true;
                    break;
                }
                for (ssize_t sent = 0; sent < got && !ended;) {
                    const ssize_t now = ::send(to, buffer + sent, static_cast<std::size_t>(got - sent),
                                               MSG_NOSIGNAL);
                    if (now <= 0) ended = true;
                    sent += now > 0 ? now : 0;
                }
            }
            if (ended) {
                closePair(pairs[i], false);
            } else {
                open.push_back(pairs[i]);
            }
        }
        pairs = std::move(open);
    }
    // Killed: every connection reset at once, as when the proxy's process dies.
    for (const auto& pair : pairs) closePair(pair, true);
    ::close(listener);
}

}  // namespace quorvane::test
