#include "bench/RsyslogDaemons.h"

#include <sys/stat.h>

#include <utility>

#include "bench/TempDirectory.h"

using quorvane::test::collectorConfig;
using quorvane::test::Environment;
using quorvane::test::freePort;
using quorvane::test::relayConfig;
using quorvane::test::RsyslogDaemon;

RsyslogDaemons::RsyslogDaemons(const TempDirectory& directory, std::string run,
                               std::string mailboxB, bool peer)
    : m_directory(directory.path()),
      m_run(std::move(run)),
      m_mailboxB(std::move(mailboxB)),
      m_peer(peer),
      m_relayPort(freePort()),
      m_collectorPort(freePort()) {
    for (const char* folder : {"relay", "collector"}) {
        ::mkdir(path(folder).c_str(), 0700);
    }
}

bool RsyslogDaemons::startCollector() {
    std::string config;
    if (m_peer) {
        config = "global(workDirectory=\"" + path("collector") +
                 "\" net.enableDNS=\"off\")\n"
                 "module(load=\"imtcp\")\ninput(type=\"imtcp\" port=\"" +
                 std::to_string(m_collectorPort) +
                 "\" address=\"127.0.0.1\" ruleset=\"file\")\n"
                 "ruleset(name=\"file\") { action(type=\"omfile\" file=\"" +
                 outputFile() + "\" template=\"RSYSLOG_SyslogProtocol23Format\") }\n";
    } else {
        config = collectorConfig(path("collector"), m_collectorPort, sendLog());
    }
    m_collector = std::make_unique<RsyslogDaemon>(m_directory, m_run + "collector", config,
                                                  Environment{{"QUORVANE_MAILBOX", m_mailboxB}});
    return m_collector->listening(m_collectorPort);
}

bool RsyslogDaemons::startRelay() {
    m_relay = std::make_unique<RsyslogDaemon>(
        m_directory, m_run + "relay",
        relayConfig(path("relay"), m_relayPort, m_collectorPort, path("relay.sock")));
    return m_relay->listening(m_relayPort);
}

void RsyslogDaemons::stopAll() {
    m_relay.reset();
    m_collector.reset();
}
