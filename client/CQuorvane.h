#pragma once
#include <cstdarg>
#include <cstdint>
#include <string_view>

#include "platform/Registry.h"
#include "platform/Win32.h"
#include "records/TraceRecord.h"

// The client library's record class and the configuration that viewer and clients share.
// The five static getters name the shared objects, so every process must get the same values:
// the mailbox name is "QuorvaneTraceMailbox" unless the environment variable QUORVANE_MAILBOX
// names another (read once, on first use).
//
// An object carries exactly the 732 bytes of one TraceRecord after its virtual-table pointer.
// The setters truncate a text to its field's width less one and always leave it NUL-terminated,
// with the rest of the field zeroed; the getters never read past a field.
class CQuorvane {
  public:
    static DWORD getMailSlots();            // 32768
    static const char* getMailboxName();    // QUORVANE_MAILBOX or "QuorvaneTraceMailbox"
    static HKEY getRegistryBranch();        // HKEY_CURRENT_USER
    static const char* getRegistryKey();    // "Software\\Quorvane"
    static const char* getRegistryValue();  // "ViewerRunning"

    // All 732 bytes zero: empty texts, timestamp 0, delta 0, sender key 0.
    CQuorvane();
    // The record's bytes left unset, for a caller that sets every field before the record is
    // read: the three texts (each setter zeroes its field past the text), the timestamp and
    // precise time, the depth delta and the sender key.
    struct EveryFieldSet {};
    explicit CQuorvane(EveryFieldSet) {}
    explicit CQuorvane(const TraceRecord& record);
    // Both copy the 732 record bytes as 183 32-bit words.
    CQuorvane(const CQuorvane& other);
    CQuorvane& operator=(const CQuorvane& other);
    virtual ~CQuorvane();

    // A null text sets the field empty.
    void setEntryName(const char* text);
    void setEntryText(const char* text);
    // printf-style entry text, truncated like setEntryText.
    void setEntryTextV(const char* format, std::va_list arguments);
    void setOriginName(const char* text);
    void setTimestamp(std::int64_t secondsSinceEpoch);
    // The nanoseconds within the timestamp's second and the sender's sequence number, with the
    // marker that says the record carries them.
    void setPreciseTime(std::uint32_t nanoseconds, std::uint32_t sequence);
    void setDepthDelta(std::int32_t depthDelta);
    void setSenderKey(std::uint32_t senderKey);

    std::string_view getEntryName() const;
    std::string_view getEntryText() const;
    std::string_view getOriginName() const;
    std::int64_t getTimestamp() const;
    std::int32_t getDepthDelta() const;
    std::uint32_t getSenderKey() const;

    // The record bytes, as posted into a mailbox slot.
    const TraceRecord& record() const { return m_record; }
    TraceRecord& record() { return m_record; }

  private:
    static constexpr std::size_t kRecordWords = kTraceRecordSize / sizeof(std::uint32_t);
    static_assert(kRecordWords * sizeof(std::uint32_t) == kTraceRecordSize);

    void copyWordsFrom(const TraceRecord& source);

    TraceRecord m_record;
};
