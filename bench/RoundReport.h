#pragma once
#include <map>
#include <string>
#include <string_view>

#include "bench/BenchReport.h"

// The one line a benchmark round run in a child process prints for its parent:
//   "<tag> ok name=value name=value ..."  or  "<tag> void <reason>".
// Adds the figures of an "ok" line to `figures` and returns an empty text; for anything else
// returns why the round is void.
std::string takeRoundReport(std::string_view tag, std::string_view line,
                            std::map<std::string, Samples>& figures);

// A field of a /proc/<pid>/status text ("RssAnon", "VmHWM") in bytes; 0 when absent.
double statusFieldBytes(std::string_view statusText, std::string_view field);
// The same field of this process's /proc/self/status.
double ownStatusBytes(std::string_view field);
