#include "tools/common/StandardOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "resources/Version.h"

int finishStandardOutput(const char* program) {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && !std::ferror(stdout)) return EXIT_SUCCESS;
    // An earlier failed write leaves the error flag but not necessarily its errno.
    if (!flushed && error != 0) {
        std::fprintf(stderr, "%s: error writing standard output: %s\n", program,
                     std::strerror(error));
    } else {
        std::fprintf(stderr, "%s: error writing standard output\n", program);
    }
    return EXIT_FAILURE;
}

int printVersion(const char* program) {
    std::printf("%s (Quorvane) %s\n%s", program, QuorvaneVersion::kNumber,
                QuorvaneVersion::kNotice);
    return finishStandardOutput(program);
}
