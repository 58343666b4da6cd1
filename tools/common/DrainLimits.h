#pragma once
// When a tool that drains the mailbox ends by itself: after a number of records (--count) or
// after a quiet spell (--idle). Without either it runs until interrupted.
#include <cstdint>

#include "tools/common/NumberArgument.h"
#include "tools/common/ToolCommandLine.h"

struct DrainLimits {
    bool hasCount = false;
    std::uint32_t count = 0;
    bool hasIdle = false;
    std::uint32_t idleMs = 0;

    // The arguments of --count and --idle; a bad number is a usage error of `program`.
    void setCount(const char* program, const char* argument) {
        if (!parseUnsigned32(argument, count))
            usageError(program, "invalid record count '%s'", argument);
        hasCount = true;
    }
    void setIdle(const char* program, const char* argument) {
        if (!parseUnsigned32(argument, idleMs))
            usageError(program, "invalid idle time '%s'", argument);
        hasIdle = true;
    }
};
