#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/RsyslogRig.h"

// One run's daemons for the RELP benchmark: three traced machines' rsyslogd, configured from
// deploy/rsyslog/ as quorvane-rsyslog-setup fills it in (each with a TCP input the benchmark
// writes to), forwarding over RELP, with or without TLS, to one collector: quorvane-relp, or
// rsyslogd's imrelp passing to quorvane-send under omprog, or writing a file. Their files are
// named after the run, in `directory`.
class RsyslogDaemons {
  public:
    enum class Collector { QuorvaneRelp, RsyslogOmprog, RsyslogFile };
    static constexpr int kMachines = 3;

    RsyslogDaemons(std::string directory, std::string run, const quorvane::test::Certificates& tls,
                   bool useTls, Collector collector, std::string mailbox);
    RsyslogDaemons(const RsyslogDaemons&) = delete;
    RsyslogDaemons& operator=(const RsyslogDaemons&) = delete;
    ~RsyslogDaemons();

    // Starts the collector and, with `machines`, the machines; false, with the reason in
    // `error`, when one does not listen.
    bool start(std::string& error, bool machines = true);

    static std::string machineName(int machine) { return "machine-" + std::to_string(machine + 1); }
    std::uint16_t inputPort(int machine) const { return m_inputPorts[machine]; }
    std::uint16_t collectorPort() const { return m_collectorPort; }
    std::string outputFile() const { return path("collected.log"); }
    std::string path(const std::string& name) const { return m_directory + "/" + m_run + name; }

  private:
    std::string collectorConfig() const;

    std::string m_directory;
    std::string m_run;
    const quorvane::test::Certificates& m_tls;
    bool m_useTls;
    Collector m_collector;
    std::string m_mailbox;
    std::uint16_t m_collectorPort;
    std::vector<std::uint16_t> m_inputPorts;
    std::unique_ptr<quorvane::test::LoggedProcess> m_receiver;
    std::unique_ptr<quorvane::test::RsyslogDaemon> m_collectorDaemon;
    std::vector<std::unique_ptr<quorvane::test::RsyslogDaemon>> m_machines;
};
