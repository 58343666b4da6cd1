#pragma once

// Standard output as the tools end it: what they printed must have been written, or the exit
// status says it was not.

// Flushes standard output; when some of it could not be written, says so on standard error after
// "`program`: ". Returns the exit status to end with: 0, or 1 when output was lost.
int finishStandardOutput(const char* program);

// Prints "`program` (Quorvane) VERSION" and the copyright and licence lines for --version, and
// returns finishStandardOutput(program).
int printVersion(const char* program);
