#include "viewer/live/PresenceKeeper.h"

#include <algorithm>

#include "quorvane/Names.h"
#include "transport/CMutexSimple.h"
#include "transport/TraceMailbox.h"

namespace {
constexpr DWORD kFlagRunning = 1;
constexpr DWORD kFlagNoViewer = 0;
}  // namespace

PresenceKeeper::PresenceKeeper() : m_reader(kReaderProgram, traceMailboxName(), kMutexName) {
    m_retryTimer.setInterval(kRetryPeriodMs);
    QObject::connect(&m_retryTimer, &QTimer::timeout, [this] { retry(); });
}

PresenceKeeper::~PresenceKeeper() {
    withdraw();
}

void PresenceKeeper::announce() {
    m_otherReaders = m_reader.join();
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (m_reader.holdPresence() || heldByReaderOfAnotherKind()) {
            break;
        }
        Sleep(kStartRetryMs);
        ++m_startPauses;
    }
    if (!m_reader.holdsPresence()) {
        m_retryTimer.start();
    }

    if (RegCreateKeyExA(HKEY_CURRENT_USER, quorvane::kRegistryKey, 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &m_key,
                        nullptr) != ERROR_SUCCESS) {
        m_key = nullptr;
        return;
    }
    DWORD size = sizeof(m_savedFlag);
    const LONG read = RegQueryValueExA(m_key, quorvane::kRegistryValue, nullptr, nullptr,
                                       reinterpret_cast<LPBYTE>(&m_savedFlag), &size);
    if (read != ERROR_SUCCESS) {
        m_savedFlag = kFlagNoViewer;
    }
    if (m_savedFlag == kFlagNoViewer) {
        writeFlag(kFlagRunning);
    }
}

bool PresenceKeeper::retry() {
    if (m_reader.holdsPresence()) {
        m_retryTimer.stop();
        return true;
    }
    if (!m_reader.holdPresence()) {
        return false;
    }
    m_retryTimer.stop();
    // The viewer that held it may have cleared the flag on its way out.
    writeFlag(kFlagRunning);
    return true;
}

void PresenceKeeper::withdraw() {
    m_retryTimer.stop();
    m_reader.leave();
    if (m_key == nullptr) {
        return;
    }
    CMutexSimple probe;
    const bool anotherViewer = !probe.getMutex(kMutexName);
    probe.releaseMutex();
    writeFlag(anotherViewer ? m_savedFlag : kFlagNoViewer);
    RegCloseKey(m_key);
    m_key = nullptr;
}

bool PresenceKeeper::heldByReaderOfAnotherKind() const {
    const DWORD holder = m_reader.presenceHolder();
    return std::any_of(m_otherReaders.begin(), m_otherReaders.end(),
                       [holder](const MarkedProcess& reader) {
                           return reader.processId == holder && reader.program != kReaderProgram;
                       });
}

void PresenceKeeper::writeFlag(DWORD value) {
    if (m_key != nullptr) {
        RegSetValueExA(m_key, quorvane::kRegistryValue, 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&value), sizeof(value));
    }
}
