#include "bench/RsyslogDaemons.h"

#include <sys/stat.h>

#include <utility>

using quorvane::test::Certificates;
using quorvane::test::Environment;
using quorvane::test::freePort;
using quorvane::test::kCollectorName;
using quorvane::test::LoggedProcess;
using quorvane::test::readFile;
using quorvane::test::RsyslogDaemon;

RsyslogDaemons::RsyslogDaemons(std::string directory, std::string run, const Certificates& tls,
                               bool useTls, Collector collector, std::string mailbox)
    : m_directory(std::move(directory)),
      m_run(std::move(run)),
      m_tls(tls),
      m_useTls(useTls),
      m_collector(collector),
      m_mailbox(std::move(mailbox)),
      m_collectorPort(freePort()) {
    ::mkdir(path("collector").c_str(), 0700);
    for (int machine = 0; machine < kMachines; ++machine) {
        ::mkdir(path(machineName(machine)).c_str(), 0700);
        m_inputPorts.push_back(freePort());
    }
}

RsyslogDaemons::~RsyslogDaemons() {
    m_machines.clear();
    m_collectorDaemon.reset();
    m_receiver.reset();
}

std::string RsyslogDaemons::collectorConfig() const {
    std::string config = "global(workDirectory=\"" + path("collector") +
                         "\" net.enableDNS=\"off\")\n"
                         "module(load=\"imrelp\")\n"
                         "input(type=\"imrelp\" port=\"" +
                         std::to_string(m_collectorPort) +
                         "\" address=\"127.0.0.1\" ruleset=\"traces\"";
    if (m_useTls) {
        config += " tls=\"on\" tls.caCert=\"" + m_tls.ca() + "\" tls.myCert=\"" +
                  m_tls.cert(kCollectorName) + "\" tls.myPrivKey=\"" + m_tls.key(kCollectorName) +
                  "\" tls.authMode=\"name\" tls.permittedPeer=[";
        for (int machine = 0; machine < kMachines; ++machine) {
            config += (machine > 0 ? ",\"" : "\"") + machineName(machine) + "\"";
        }
        config += "]";
    }
    config += ")\n";
    if (m_collector == Collector::RsyslogFile) {
        return config + "ruleset(name=\"traces\") { action(type=\"omfile\" file=\"" +
               outputFile() + "\" template=\"RSYSLOG_SyslogProtocol23Format\") }\n";
    }
    // The hand-off the collector's rsyslog had before quorvane-relp: one confirmation a message.
    return config +
           "module(load=\"omprog\")\n"
           "ruleset(name=\"traces\" queue.type=\"LinkedList\" queue.workerThreads=\"1\") {\n"
           "  action(type=\"omprog\" binary=\"" QUORVANE_SEND
           " --syslog --confirm\" template=\"RSYSLOG_SyslogProtocol23Format\"\n"
           "         confirmMessages=\"on\" output=\"" +
           path("send.log") +
           "\" queue.type=\"LinkedList\" queue.size=\"100000\"\n"
           "         action.resumeRetryCount=\"-1\" action.resumeInterval=\"1\")\n"
           "}\n";
}

bool RsyslogDaemons::start(std::string& error, bool machines) {
    const Environment environment{{"QUORVANE_MAILBOX", m_mailbox}};
    if (m_collector == Collector::QuorvaneRelp) {
        std::vector<std::string> arguments = {QUORVANE_RELP, "--address=127.0.0.1",
                                              "--port=" + std::to_string(m_collectorPort),
                                              "--state=" + path("collector")};
        if (m_useTls) {
            arguments.push_back("--ca=" + m_tls.ca());
            arguments.push_back("--cert=" + m_tls.cert(kCollectorName));
            arguments.push_back("--key=" + m_tls.key(kCollectorName));
            for (int machine = 0; machine < kMachines; ++machine) {
                arguments.push_back("--permit=" + machineName(machine));
            }
        } else {
            arguments.emplace_back("--plain");
        }
        m_receiver =
            std::make_unique<LoggedProcess>(arguments, path("receiver.log"), environment);
    } else {
        m_collectorDaemon = std::make_unique<RsyslogDaemon>(m_directory, m_run + "collector",
                                                            collectorConfig(), environment);
    }
    if (!quorvane::test::waitListening(m_collectorPort)) {
        error = "the collector does not listen: " + readFile(path("receiver.log")) +
                readFile(path("collector.log"));
        return false;
    }
    for (int machine = 0; machines && machine < kMachines; ++machine) {
        const std::string name = machineName(machine);
        const std::string config = quorvane::test::tracedConfig(
            path(name), m_collectorPort, m_inputPorts[machine], m_tls, m_useTls ? name : "", error);
        if (config.empty()) return false;
        m_machines.push_back(std::make_unique<RsyslogDaemon>(m_directory, m_run + name, config));
        if (!m_machines.back()->listening(m_inputPorts[machine])) {
            error = name + "'s rsyslogd does not listen: " + m_machines.back()->log();
            return false;
        }
    }
    return true;
}
