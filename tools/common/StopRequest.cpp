#include "tools/common/StopRequest.h"

#include <signal.h>

namespace {
volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" void requestStop(int) {
    g_stopRequested = 1;
}
}  // namespace

void installStopRequest() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

const volatile std::sig_atomic_t* stopRequest() {
    return &g_stopRequested;
}

bool stopRequested() {
    return g_stopRequested != 0;
}
