#include "viewer/live/TerminationSignalWatcher.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <cerrno>

namespace {
constexpr std::array<int, 3> kWatchedSignals = {SIGINT, SIGTERM, SIGHUP};

// The handler may only write to a pipe; the watcher reads the signal numbers on its thread.
volatile sig_atomic_t gWriteFd = -1;

void onSignal(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (gWriteFd >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(gWriteFd, &byte, 1);
    }
    errno = savedErrno;
}
}  // namespace

struct TerminationSignalWatcher::State {
    int readFd = -1;
    int writeFd = -1;
    std::array<struct sigaction, kWatchedSignals.size()> previous{};
    bool installed = false;

    ~State() {
        if (installed) {
            for (std::size_t i = 0; i < kWatchedSignals.size(); ++i) {
                ::sigaction(kWatchedSignals[i], &previous[i], nullptr);
            }
            if (gWriteFd == writeFd) {
                gWriteFd = -1;
            }
        }
        if (readFd >= 0) {
            ::close(readFd);
        }
        if (writeFd >= 0) {
            ::close(writeFd);
        }
    }
};

TerminationSignalWatcher::TerminationSignalWatcher(QObject* parent)
    : QObject(parent), m_state(std::make_unique<State>()) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    m_state->readFd = fds[0];
    m_state->writeFd = fds[1];
    gWriteFd = fds[1];

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kWatchedSignals.size(); ++i) {
        ::sigaction(kWatchedSignals[i], &action, &m_state->previous[i]);
    }
    m_state->installed = true;

    m_notifier = std::make_unique<QSocketNotifier>(m_state->readFd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this,
            &TerminationSignalWatcher::onReadable);
}

TerminationSignalWatcher::~TerminationSignalWatcher() {
    m_notifier.reset();
    m_state.reset();
}

bool TerminationSignalWatcher::isWatching() const {
    return m_state->installed;
}

void TerminationSignalWatcher::onReadable() {
    unsigned char byte = 0;
    while (::read(m_state->readFd, &byte, 1) == 1) {
        emit terminationRequested(byte);
    }
}
