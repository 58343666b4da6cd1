// A program that defines functions named like the client library's internal ones. The library
// must keep using its own: its reason for a mailbox name that is too long stays its own sentence.
#include <quorvane/Trace.h>

#include <cstdio>
#include <cstdlib>
#include <string>

const char* win32ErrorText(unsigned) {
    return "HIJACKED";
}

std::string describeMailboxFailure(const char*, unsigned) {
    return "HIJACKED";
}

int main() {
    ::setenv("QUORVANE_MAILBOX", std::string(300, 'i').c_str(), 1);
    const bool enabled = quorvane::tracingEnabled();
    const std::string reason = quorvane::disabledReason();
    std::printf("%s\n", reason.c_str());
    const bool own = reason.find("HIJACKED") == std::string::npos &&
                     reason.find("longer than 229") != std::string::npos &&
                     reason.find("The filename or extension is too long.") != std::string::npos;
    return !enabled && own ? 0 : 1;
}
