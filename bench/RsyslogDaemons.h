#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "tests/support/RsyslogRig.h"

class TempDirectory;

// One run's rsyslog daemons for the rsyslog benchmark, configured from deploy/rsyslog/: the relay
// on the traced machine and the collector on the viewer's, either passing to quorvane-send or,
// for the peer, writing a file. Their files are named after the run, in `directory`.
class RsyslogDaemons {
  public:
    RsyslogDaemons(const TempDirectory& directory, std::string run, std::string mailboxB,
                   bool peer);

    bool startCollector();
    bool startRelay();
    int stopCollector() { return m_collector ? m_collector->stop() : -1; }
    void stopAll();

    std::uint16_t relayPort() const { return m_relayPort; }
    std::string outputFile() const { return path("collected.log"); }
    std::string sendLog() const { return path("send.log"); }
    std::string path(const std::string& name) const { return m_directory + "/" + m_run + name; }

  private:
    std::string m_directory;
    std::string m_run;
    std::string m_mailboxB;
    bool m_peer;
    std::uint16_t m_relayPort;
    std::uint16_t m_collectorPort;
    std::unique_ptr<quorvane::test::RsyslogDaemon> m_relay;
    std::unique_ptr<quorvane::test::RsyslogDaemon> m_collector;
};
