#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "records/DepthTable.h"
#include "records/TraceRecord.h"

// Turns a record into its display line:
//   "%.5d\t%lu\t%s\t%s\t%s(%s)" of line number, sender key, local time "%H:%M:%S", origin,
//   indentation tabs + entry name, entry text.
// The sender's depth comes from the depth table; a negative delta applies before indenting, a
// positive one after. The new depth is kept as the pending depth and stored into the table only
// by storeDepth(), which the caller calls after inserting the line.
//
// The line number is printed unsigned, zero-padded to five digits and in full beyond. A text
// field without a NUL is read to the end of its width and no further; in a text field, CR and LF
// are shown as a backslash and 'r' or 'n', every other byte as it is. Depth arithmetic saturates
// at the limits of a 32-bit integer, and the emitted indentation stops at kMaxIndentTabs tabs
// while the table keeps the exact depth.
//
// formatLine() allocates nothing: the line is written into a buffer sized for the longest
// possible line. A timestamp is converted to local time only when it differs from the previous
// one, so the time zone in force is the one seen at that conversion.
// Where the time column of a line formatLine() made ends (the third tab), or npos for a line of
// another shape; what is drawn or printed beside the time goes there.
std::size_t timeColumnEnd(std::string_view line);

class LineFormatter {
  public:
    // Deeper senders are shown with this many tabs, so a hostile depth cannot make one line
    // gigabytes long.
    static constexpr std::int32_t kMaxIndentTabs = 1024;

    explicit LineFormatter(DepthTable& depthTable);

    // The returned view stays valid until the next call.
    std::string_view formatLine(const TraceRecord& record, std::uint32_t lineNumber);
    // The depth of the sender of the record last formatted, after its delta; 0 before the first.
    std::int32_t pendingDepth() const { return m_pendingDepth; }
    // The depth the record last formatted is shown at (its indentation, before the cap).
    std::int32_t shownDepth() const { return m_shownDepth; }
    // Stores the pending depth under the sender key of the record last formatted; does nothing
    // before the first record.
    void storeDepth();

  private:
    // strftime's output buffer, terminating NUL included.
    static constexpr std::size_t kTimeBufferSize = 128;
    static constexpr std::size_t kMaxUint32Digits = 10;
    static constexpr std::size_t kColumnTabs = 4;
    // A text field may be all CR and LF, each written as two characters.
    static constexpr std::size_t kEscapedWidth = 2;
    static constexpr std::size_t kMaxLineLength =
        kMaxUint32Digits + kMaxUint32Digits + (kTimeBufferSize - 1) + kMaxIndentTabs +
        kEscapedWidth * (TraceRecord::kOriginNameSize + TraceRecord::kEntryNameSize +
                         TraceRecord::kEntryTextSize) +
        kColumnTabs + sizeof("()") - 1;

    void updateTimeText(std::int64_t timestamp);

    DepthTable& m_depthTable;
    std::int32_t m_pendingDepth = 0;
    std::int32_t m_shownDepth = 0;
    std::uint32_t m_senderKey = 0;
    bool m_hasFormatted = false;

    bool m_hasCachedTime = false;
    std::int64_t m_cachedTimestamp = 0;
    std::size_t m_timeTextLength = 0;
    std::array<char, kTimeBufferSize> m_timeText{};

    std::array<char, kMaxLineLength> m_line{};
};
