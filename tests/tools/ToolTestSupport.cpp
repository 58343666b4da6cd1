#include "tests/tools/ToolTestSupport.h"

#include <algorithm>
#include <cstring>

#include "records/DepthTable.h"
#include "records/LineFormatter.h"

namespace tooltest {

namespace {

template <std::size_t Width>
void setField(char (&field)[Width], std::string_view text) {
    std::memcpy(field, text.data(), std::min(text.size(), Width - 1));
}

}  // namespace

TraceRecord makeRecord(std::string_view name, std::string_view text, std::string_view origin,
                       std::int32_t delta, std::uint32_t senderKey, std::int64_t timestamp) {
    TraceRecord record;
    std::memset(&record, 0, sizeof record);
    setField(record.entryName, name);
    setField(record.entryText, text);
    setField(record.originName, origin);
    record.depthDelta = delta;
    record.senderKey = senderKey;
    record.timestamp = timestamp;
    return record;
}

std::string formatAll(const std::vector<TraceRecord>& records) {
    DepthTable depthTable;
    LineFormatter formatter(depthTable);
    std::string text;
    std::uint32_t lineNumber = 0;
    for (const TraceRecord& record : records) {
        text += formatter.formatLine(record, ++lineNumber);
        text += '\n';
        formatter.storeDepth();
    }
    return text;
}

std::vector<std::string> throughShell(const std::vector<std::string>& tool) {
    std::vector<std::string> arguments = {"/bin/sh", "-c", "echo $$; exec \"$0\" \"$@\" 2>&1"};
    arguments.insert(arguments.end(), tool.begin(), tool.end());
    return arguments;
}

}  // namespace tooltest
