#pragma once
// Private rsyslog daemons on 127.0.0.1 for the rsyslog tests and benchmark: configurations filled
// in from deploy/rsyslog/, free ports, and programs whose output goes to a log file. No system
// service is touched.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
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

// The name in the collector's certificate, which the traced machines permit.
inline constexpr const char* kCollectorName = "collector.quorvane.test";

// The private CA and the machines' certificates of one test, made with certtool.
class Certificates {
  public:
    // Makes the CA and a certificate signed by it for each of `names` (the name is the
    // certificate's CN and DNS name), and for each of `rogues` one it signed itself.
    // False, with certtool's words in `error`, when one could not be made.
    bool make(const std::string& directory, const std::vector<std::string>& names,
              const std::vector<std::string>& rogues, std::string& error);
    std::string ca() const { return m_directory + "/ca.pem"; }
    std::string cert(const std::string& name) const { return m_directory + "/" + name + ".pem"; }
    std::string key(const std::string& name) const {
        return m_directory + "/" + name + "-key.pem";
    }

  private:
    std::string m_directory;
};

// A traced machine's rsyslogd: deploy/rsyslog/'s main file and traced snippet as
// quorvane-rsyslog-setup fills them in (its files in `directory`, the snippet forwarding to
// `collectorPort` with `tlsName`'s certificate, or plain RELP when it is empty), and a TCP input
// on `inputPort` for quorvane-forward. Empty, with the setup's words in `error`, when it fails.
std::string tracedConfig(const std::string& directory, std::uint16_t collectorPort,
                         std::uint16_t inputPort, const Certificates& certificates,
                         const std::string& tlsName, std::string& error);

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
    // Kills it with SIGKILL and waits for its end.
    void kill();

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
    void kill() { m_process.kill(); }
    std::string log() const { return readFile(m_log); }

  private:
    std::string m_log;
    LoggedProcess m_process;
};

// A TCP proxy on 127.0.0.1 in a thread of its own, between the machines and the collector: it
// can be killed (every connection reset, the listener closed) and started again on its port.
class TcpProxy {
  public:
    explicit TcpProxy(std::uint16_t target);
    TcpProxy(const TcpProxy&) = delete;
    TcpProxy& operator=(const TcpProxy&) = delete;
    ~TcpProxy() { kill(); }

    // Listens on port() (a free one the first time); false when it cannot.
    bool start();
    void kill();
    std::uint16_t port() const { return m_port; }

  private:
    void run(int listener, int wake);

    std::uint16_t m_target;
    std::uint16_t m_port = 0;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
};

}  // namespace quorvane::test
