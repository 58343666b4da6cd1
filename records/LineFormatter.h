#pragma once
#include <cstdint>
#include <string_view>

#include "records/DepthTable.h"
#include "records/TraceRecord.h"

// Turns a record into its display line:
//   "%.5d\t%lu\t%s\t%s\t%s(%s)" of line number, sender key, local time "%H:%M:%S", origin,
//   indentation tabs + entry name, entry text.
// The sender's depth comes from the depth table; a negative delta applies before indenting, a
// positive one after. The new depth is left in `currentDepth` and stored into the table only by
// storeDepth(), which the caller calls after inserting the line.
//
// formatLine() allocates nothing once its buffer has grown to the longest line, and converts a
// timestamp to local time only when it differs from the previous one.
class LineFormatter {
public:
    LineFormatter(DepthTable& depthTable, std::int32_t& currentDepth);

    // The returned view stays valid until the next call.
    std::string_view formatLine(const TraceRecord& record, std::uint32_t lineNumber);
    // Stores `currentDepth` under the sender key of the record last formatted.
    void storeDepth();

private:
    DepthTable& m_depthTable;
    std::int32_t& m_currentDepth;
    // ... buffers and time cache
};
