#include "tools/common/ToolCommandLine.h"

#include <cstdio>
#include <cstdlib>

#include "tools/common/StandardOutput.h"

void usageError(const char* program, const char* format, const char* argument) {
    std::fprintf(stderr, "%s: ", program);
    std::fprintf(stderr, format, argument);
    std::fputc('\n', stderr);
    usageHint(program);
}

void usageHint(const char* program) {
    std::fprintf(stderr, "Try '%s --help' for more information.\n", program);
    std::exit(kExitUsage);
}

void exitWithHelp(const char* program, void (*printHelp)()) {
    printHelp();
    std::exit(finishStandardOutput(program));
}

void exitWithVersion(const char* program) {
    std::exit(printVersion(program));
}
