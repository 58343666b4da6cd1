#include "transport/ReaderPresence.h"

#include <utility>

namespace {
// Marks of readers are grouped by the mailbox they read.
constexpr const char* kReaderGroupPrefix = "reader:";
}  // namespace

ReaderPresence::ReaderPresence(std::string program, std::string mailboxName, std::string mutexName)
    : m_program(std::move(program)),
      m_mailboxName(std::move(mailboxName)),
      m_mutexName(std::move(mutexName)) {}

std::vector<MarkedProcess> runningReaders(const std::string& mailboxName) {
    return FindMarkedProcesses(kReaderGroupPrefix + mailboxName);
}

std::vector<MarkedProcess> ReaderPresence::join() {
    const std::string group = kReaderGroupPrefix + m_mailboxName;
    std::vector<MarkedProcess> others;
    if (m_mark.place(group, m_program, &others) != ERROR_SUCCESS)
        others = runningReaders(m_mailboxName);
    return others;
}

bool ReaderPresence::holdPresence() {
    return m_mutex.isHeld() || m_mutex.getMutex(m_mutexName.c_str()) != FALSE;
}

void ReaderPresence::leave() {
    m_mutex.releaseMutex();
    m_mark.remove();
}

std::string describeReaders(const std::vector<MarkedProcess>& readers) {
    std::string text;
    for (const MarkedProcess& reader : readers) {
        if (!text.empty()) text += ", ";
        text += reader.program + " (pid " + std::to_string(reader.processId) + ")";
    }
    return text;
}
