#pragma once
// Traces with nested scopes across interleaved senders, made into lines by the real formatter,
// with what the generator knows of each scope, so tests can check what the viewer works out
// from the lines alone.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace viewertest {

struct TraceScope {
    static constexpr std::size_t kNoLeave = SIZE_MAX;
    std::size_t entry = 0;         // line index, from 0
    std::size_t leave = kNoLeave;  // kNoLeave: still open at the end
    std::uint32_t sender = 0;
    int depth = 0;                    // open scopes of its sender around it
    std::vector<std::size_t> inside;  // its sender's later lines in it, the leave line included
};

struct ScopedTrace {
    std::vector<std::string> lines;
    // Every entry of the trace, those left at once (nothing inside) included.
    std::vector<TraceScope> scopes;
};

// `count` lines of `senders` senders taking turns at random: entries ("parse(x7)"), plain lines
// ("note(n3)") and leaves ("parse()"), numbered from 1 as the live window numbers them.
ScopedTrace randomScopedTrace(std::size_t count, unsigned seed, std::uint32_t senders = 3);

// `line` as Save writes it, without its line end: every run of tabs made one tab.
std::string collapsedTabs(std::string_view line);

}  // namespace viewertest
