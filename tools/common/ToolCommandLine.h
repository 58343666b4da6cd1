#pragma once
// What every tool's command line does alike: a usage error says what is wrong and points at
// --help, with status 2; --help and --version print and end with status 0, or 1 when their
// output could not be written.

inline constexpr int kExitUsage = 2;

// "`program`: " + the printf-style `format` with `argument`, then the --help hint; exits 2.
[[noreturn]] void usageError(const char* program, const char* format, const char* argument);
// The --help hint alone, after getopt has said what is wrong; exits 2.
[[noreturn]] void usageHint(const char* program);
// Runs `printHelp`, then exits with the status of writing it.
[[noreturn]] void exitWithHelp(const char* program, void (*printHelp)());
// Prints the version and licence lines, then exits with the status of writing them.
[[noreturn]] void exitWithVersion(const char* program);
