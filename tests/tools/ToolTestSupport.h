#pragma once
// What the tests of the command-line tools share: records made to order, the lines the viewer
// (and quorvane-tail) would show for them, and a tool run through the shell so that its process
// id is known.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "records/TraceRecord.h"

namespace tooltest {

// A record with these fields, each text cut to its field, everything else zero.
TraceRecord makeRecord(std::string_view name, std::string_view text, std::string_view origin,
                       std::int32_t delta, std::uint32_t senderKey, std::int64_t timestamp);

// The lines of `records`, numbered from 1, each ending in a newline.
std::string formatAll(const std::vector<TraceRecord>& records);

// The arguments that run `tool` through the shell with its standard error on standard output,
// after a first line holding the tool's process id.
std::vector<std::string> throughShell(const std::vector<std::string>& tool);

}  // namespace tooltest
