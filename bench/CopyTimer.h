#pragma once
#include <string>

// Runs the real /bin/cp (or the first `cp` on PATH when /bin/cp is missing) from `source` to
// `target` in a child process and returns the wall time in seconds from fork to exit, or a
// negative value when the copy failed.
double timeCopy(const std::string& source, const std::string& target);

// Size of a file in bytes, or -1 when it is not there.
long long fileSize(const std::string& path);
