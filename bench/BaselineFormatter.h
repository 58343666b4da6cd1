#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "records/TraceRecord.h"

// The straightforward way to build a display line, as the formatting benchmark's peer: the same
// line as LineFormatter, from snprintf into a new string, with a local-time conversion for every
// record and the depths in a std::map.
class BaselineFormatter {
  public:
    std::string formatLine(const TraceRecord& record, std::uint32_t lineNumber);
    // Stores the depth of the record last formatted under its sender key.
    void storeDepth();

  private:
    std::map<std::uint32_t, std::int32_t> m_depths;
    std::uint32_t m_senderKey = 0;
    std::int32_t m_currentDepth = 0;
    bool m_hasFormatted = false;
};
