#pragma once
#include <csignal>

// SIGINT and SIGTERM, once installStopRequest() has run, only set a flag that the program's
// loops read, so that it can say its counts, flush what it took and withdraw what it holds.
// No SA_RESTART: a blocking call returns early, and the loop then sees the request.
void installStopRequest();
// The flag: nonzero once a stop was asked for.
const volatile std::sig_atomic_t* stopRequest();
bool stopRequested();
