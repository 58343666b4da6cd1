#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "records/TraceRecord.h"

// Trace records as RFC 5424 syslog messages, both ways, without sockets.
//
// A record becomes
//   <15>1 TIMESTAMP HOST ORIGIN SENDERKEY trace [quorvane@32473 run="RUN" line="N" depth="D"
//   name="NAME" time="SECONDS"] TEXT
// (facility user, severity debug). RUN names one run of one forwarder (16 hex digits drawn at its
// start) and N counts its messages, so that a message a relay passes twice can be told apart.
// TIMESTAMP is the record's time in UTC, or "-" when it lies outside the years 1 to 9999; `time`
// carries it exactly. The texts travel byte for byte: in the header fields every byte outside
// printable ASCII, and '%', is written as %XX; in the entry name and text, control bytes, DEL, '%'
// and bytes that are not part of valid UTF-8 are written as %XX, valid UTF-8 passes as it is (the
// text then starts with a byte order mark, as RFC 5424 asks of UTF-8 text), and in the name '"',
// '\' and ']' are escaped with a backslash. No byte of a message is a control byte, so no relay
// turns one into "#012" and no line break splits it.

inline constexpr std::string_view kTraceMessageId = "trace";
// 32473 is the private enterprise number reserved for documentation (RFC 5612).
inline constexpr std::string_view kTraceStructuredDataId = "quorvane@32473";
inline constexpr int kTracePriority = 15;

// RFC 5424's longest header fields.
inline constexpr std::size_t kMaxHostNameLength = 255;
inline constexpr std::size_t kMaxAppNameLength = 48;
inline constexpr std::size_t kMaxProcIdLength = 128;
inline constexpr std::size_t kMaxMessageIdLength = 32;

// Appends the message for `record`, the `lineNumber`th the forwarder run `runId` sends from
// `hostName`. The origin is cut to kMaxAppNameLength characters once encoded.
void appendTraceMessage(std::string& out, const TraceRecord& record, std::string_view runId,
                        std::uint64_t lineNumber, std::string_view hostName);

// Appends `value` as a header field: "-" when empty, printable ASCII but '%' as it is, other
// bytes as %XX, cut to `maxLength` characters without splitting a %XX.
void appendHeaderField(std::string& out, std::string_view value, std::size_t maxLength);

// The parts of one message, views into the line it was parsed from. The structured data is
// "-" or the whole run of elements, brackets included; the text has no byte order mark.
struct SyslogMessage {
    int priority = 0;
    std::string_view timestamp;
    std::string_view hostName;
    std::string_view appName;
    std::string_view procId;
    std::string_view messageId;
    std::string_view structuredData;
    std::string_view text;
};

// Parses one RFC 5424 message (without its line end). Returns null when it is well formed,
// otherwise what is wrong with it, as a short phrase.
const char* parseSyslogMessage(std::string_view line, SyslogMessage& message);

// The raw (still escaped) value of parameter `name` in the element `id` of well-formed
// structured data; false when there is no such element or parameter.
bool findStructuredParam(std::string_view structuredData, std::string_view id,
                         std::string_view name, std::string_view& rawValue);

// Undoes the encoding above, writing at most `width` bytes into `out` and returning how many.
// Backslash escapes are undone only with `paramValue`; a backslash before any other byte, and a
// '%' not followed by two hex digits, stand for themselves.
std::size_t decodeText(std::string_view encoded, bool paramValue, char* out, std::size_t width);

// The sender key of records from `procId` on `hostName`: FNV-1a (32 bits) over the host name, a
// NUL and the PROCID, as they appear in the message. Thread ids repeat across machines; this
// keeps one indentation per thread and machine.
std::uint32_t syslogSenderKey(std::string_view hostName, std::string_view procId);

// Seconds since 1970 of an RFC 3339 time stamp ("2024-05-01T12:00:00.5+02:00"), and the
// nanoseconds its fraction gives (digits past the ninth are dropped); false when it is not one.
bool parseRfc3339(std::string_view text, std::int64_t& seconds);
bool parseRfc3339(std::string_view text, std::int64_t& seconds, std::uint32_t& nanoseconds);

// Fills `record` from a parsed message. A Quorvane trace (MSGID "trace" with the quorvane@32473
// element) gives back the forwarded record: name, depth change, time and text decoded. Any other
// message gives depth change 0, the MSGID (or the severity when there is none) as entry name and
// its text as it came. Either way the origin is "host/program" cut to its field and the sender
// key is syslogSenderKey(). `now` stands in for a missing time. Returns null, or what is wrong
// with a trace whose parameters do not hold numbers.
const char* recordFromMessage(const SyslogMessage& message, std::int64_t now, TraceRecord& record);
