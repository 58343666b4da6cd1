#include "tests/viewer/ScopedTrace.h"

#include <random>

#include "records/DepthTable.h"
#include "records/LineFormatter.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/files/LogFileWriter.h"

namespace viewertest {

ScopedTrace randomScopedTrace(std::size_t count, unsigned seed, std::uint32_t senders) {
    static const char* const kNames[] = {"parse", "read", "run"};
    std::mt19937 random(seed);
    DepthTable depths;
    LineFormatter formatter(depths);
    ScopedTrace trace;
    std::vector<std::vector<std::size_t>> open(senders);  // scopes by index, outermost first
    std::vector<std::string> names;                       // by scope
    for (std::size_t index = 0; index < count; ++index) {
        const std::uint32_t sender = random() % senders;
        std::vector<std::size_t>& stack = open[sender];
        const unsigned choice = random() % 10;
        std::string name = "note";
        std::string text = "n" + std::to_string(index);
        std::int32_t delta = 0;
        if (choice < 3 || (choice < 5 && stack.empty())) {
            name = kNames[random() % 3];
            text = "x" + std::to_string(index);
            delta = 1;
        } else if (choice < 6 && !stack.empty()) {
            // A leave repeats its entry's name with an empty text.
            name = names[stack.back()];
            text.clear();
            delta = -1;
        }
        for (const std::size_t scope : stack) trace.scopes[scope].inside.push_back(index);
        if (delta < 0) {
            trace.scopes[stack.back()].leave = index;
            stack.pop_back();
        }
        const TraceRecord record =
            makeRecord(name.c_str(), text.c_str(), "prog", 100 + sender, delta);
        trace.lines.emplace_back(
            formatter.formatLine(record, static_cast<std::uint32_t>(index + 1)));
        formatter.storeDepth();
        if (delta > 0) {
            TraceScope scope;
            scope.entry = index;
            scope.sender = sender;
            scope.depth = static_cast<int>(stack.size());
            stack.push_back(trace.scopes.size());
            trace.scopes.push_back(scope);
            names.push_back(name);
        }
    }
    return trace;
}

std::string collapsedTabs(std::string_view line) {
    std::string saved;
    LogFileWriter::appendSavedLine(saved, line);
    saved.resize(saved.size() - 2);
    return saved;
}

}  // namespace viewertest
