#pragma once
// Private rsyslog daemons on 127.0.0.1 for the rsyslog tests and benchmark: configurations filled
// in from deploy/rsyslog/, free ports, and programs whose output goes to a log file. No system
// service is touched.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/ProcessSupport.h"

namespace quorvane::test {

using Environment = std::vector<std::pair<std::string, std::string>>;

// The longest wait for a daemon to listen or to end.
inline constexpr std::chrono::seconds kDaemonStartLimit{10};

std::string readFile(const std::string& path);
// `text` with every `from` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to);

// A TCP port on 127.0.0.1 that nothing listens on now; 0 when none was found.
std::uint16_t freePort();
// A socket connected to `port` on 127.0.0.1, or -1.
int connectTo(std::uint16_t port);
// Whether something accepts a connection on `port` now.
bool accepts(std::uint16_t port);
// Whether something accepts a connection on `port` within kDaemonStartLimit.
bool waitListening(std::uint16_t port);

// The path of rsyslogd, or empty when it is not installed.
std::string rsyslogd();

// deploy/rsyslog/quorvane-collector.conf listening on `port` and passing to quorvane-send, which
// logs to `sendLog`; rsyslogd keeps its queues in `workDirectory`.
std::string collectorConfig(const std::string& workDirectory, std::uint16_t port,
                            const std::string& sendLog);
// deploy/rsyslog/quorvane-traced.conf forwarding to `collectorPort`, its socket at `socketPath`,
// with a TCP input on `relayPort` for quorvane-forward.
std::string relayConfig(const std::string& workDirectory, std::uint16_t relayPort,
                        std::uint16_t collectorPort, const std::string& socketPath);

// A program with its standard output and error appended to a log file.
class LoggedProcess {
  public:
    LoggedProcess(const std::vector<std::string>& arguments, const std::string& logPath,
                  const Environment& environment = {});
    LoggedProcess(const LoggedProcess&) = delete;
    LoggedProcess& operator=(const LoggedProcess&) = delete;
    ~LoggedProcess() { stop(); }

    // Stops it as a service manager would (SIGTERM) and waits for its end; returns its exit
    // status, -1 when it had to be killed.
    int stop();

  private:
    std::unique_ptr<Subprocess> m_process;
    int m_status = -1;
};

// One rsyslogd in the foreground: `config` in directory/NAME.conf, its PID file and log beside it.
class RsyslogDaemon {
  public:
    RsyslogDaemon(const std::string& directory, const std::string& name, const std::string& config,
                  const Environment& environment = {});

    // Whether it listens on `port` within kDaemonStartLimit.
    bool listening(std::uint16_t port) const { return waitListening(port); }
    int stop() { return m_process.stop(); }
    std::string log() const { return readFile(m_log); }

  private:
    std::string m_log;
    LoggedProcess m_process;
};

}  // namespace quorvane::test
