// Trace records as RFC 5424 messages: the encoding quorvane-forward writes and the parsing
// quorvane-send --syslog does, on hostile records and hostile lines.

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "records/RecordFields.h"
#include "tools/syslog/RepeatFilter.h"
#include "tools/syslog/SyslogMessage.h"

namespace {

TraceRecord makeRecord(std::string_view name, std::string_view text, std::string_view origin,
                       std::int32_t delta, std::uint32_t senderKey, std::int64_t timestamp) {
    TraceRecord record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(record.entryName, name.data(), std::min(name.size(), sizeof record.entryName - 1));
    std::memcpy(record.entryText, text.data(), std::min(text.size(), sizeof record.entryText - 1));
    std::memcpy(record.originName, origin.data(),
                std::min(origin.size(), sizeof record.originName - 1));
    record.depthDelta = delta;
    record.senderKey = senderKey;
    record.timestamp = timestamp;
    return record;
}

std::string encode(const TraceRecord& record, std::uint64_t line = 1,
                   std::string_view host = "machine-a") {
    std::string message;
    appendTraceMessage(message, record, "0123456789abcdef", line, host);
    return message;
}

// Every byte but NUL, in order: what a text field may hold at worst.
std::string everyByte() {
    std::string bytes;
    for (int c = 1; c < 256; ++c) bytes += static_cast<char>(c);
    return bytes;
}

TEST(SyslogMessageTest, HostileRecordsComeBackByteForByteFromMessagesWithoutControlBytes) {
    const std::string all = everyByte();
    std::vector<TraceRecord> records = {
        makeRecord("main", "argc=2", "app", 1, 4242, 1700000000),
        makeRecord(all.substr(0, 127), all, "app", -1, 0, 0),
        makeRecord(all.substr(128), all.substr(100), "o r%i\tg\xC3\xA9n", INT32_MIN, UINT32_MAX,
                   INT64_MIN),
        makeRecord("q\"uote\\back]bracket", "\xEF\xBB\xBF starts with a byte order mark ", "-",
                   INT32_MAX, 1, INT64_MAX),
        makeRecord("", "", "", 0, 7, -1),
        makeRecord("utf8 \xE2\x82\xAC \xF0\x9F\x98\x80",
                   "bad \xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80", "\xFF\xFE", 3, 99, 253402300800),
        makeRecord(std::string(127, '%'), std::string(511, ']'), std::string(63, 'x'), 0, 5,
                   -62135596801),
    };
    // The first two carry precise time: the nanoseconds and sequence number travel with them.
    for (const auto& [index, nanoseconds, sequence] :
         {std::tuple{0, 999'999'999u, 1u}, std::tuple{1, 5'000u, 0xFFFFFFFFu}}) {
        records[index].nanoseconds = nanoseconds;
        records[index].sequence = sequence;
        records[index].marker = quorvane::kPreciseTimeMarker;
    }
    std::uint64_t line = 0;
    for (const TraceRecord& sent : records) {
        const std::string message = encode(sent, ++line);
        for (const char c : message) {
            const auto byte = static_cast<unsigned char>(c);
            ASSERT_TRUE(byte >= 0x20 && byte != 0x7F) << "control byte in " << message;
        }
        SyslogMessage parsed;
        ASSERT_EQ(parseSyslogMessage(message, parsed), nullptr) << message;
        EXPECT_EQ(parsed.priority, kTracePriority);
        EXPECT_EQ(parsed.hostName, "machine-a");
        EXPECT_EQ(parsed.procId, std::to_string(sent.senderKey));
        EXPECT_EQ(parsed.messageId, "trace");
        std::string_view lineValue;
        ASSERT_TRUE(
            findStructuredParam(parsed.structuredData, kTraceStructuredDataId, "line", lineValue));
        EXPECT_EQ(lineValue, std::to_string(line));

        TraceRecord received;
        ASSERT_EQ(recordFromMessage(parsed, 0, received), nullptr) << message;
        EXPECT_EQ(recordFieldText(received.entryName), recordFieldText(sent.entryName)) << line;
        EXPECT_EQ(recordFieldText(received.entryText), recordFieldText(sent.entryText)) << line;
        const std::string origin(recordFieldText(sent.originName));
        // Plain origins longer than APP-NAME's 48 characters are cut there; the others fit.
        EXPECT_EQ(recordFieldText(received.originName),
                  "machine-a/" + origin.substr(0, kMaxAppNameLength));
        EXPECT_EQ(received.depthDelta, sent.depthDelta);
        EXPECT_EQ(received.timestamp, sent.timestamp);
        EXPECT_EQ(received.senderKey, syslogSenderKey("machine-a", std::to_string(sent.senderKey)));
        ASSERT_EQ(quorvane::carriesPreciseTime(received), quorvane::carriesPreciseTime(sent));
        if (quorvane::carriesPreciseTime(sent)) {
            EXPECT_EQ(received.nanoseconds, sent.nanoseconds) << line;
            EXPECT_EQ(received.sequence, sent.sequence) << line;
        }
    }
}

TEST(SyslogMessageTest, MessageHasTheDocumentedLayoutWithUtf8TextAfterAByteOrderMark) {
    const TraceRecord record =
        makeRecord("a\"b\\c]d%", "caf\xC3\xA9\n", "my app", -1, 42, 1700000000);
    EXPECT_EQ(encode(record, 7, "host"),
              "<15>1 2023-11-14T22:13:20Z host my%20app 42 trace [quorvane@32473 "
              "run=\"0123456789abcdef\" line=\"7\" "
              "depth=\"-1\" name=\"a\\\"b\\\\c\\]d%25\" time=\"1700000000\"] "
              "\xEF\xBB\xBF"
              "caf\xC3\xA9%0A");
    // An empty text leaves the message without one; a time outside four-digit years has none in
    // the header.
    EXPECT_EQ(encode(makeRecord("n", "", "", 0, 0, -62135596801), 1, ""),
              "<15>1 - - - 0 trace [quorvane@32473 run=\"0123456789abcdef\" line=\"1\" "
              "depth=\"0\" name=\"n\" "
              "time=\"-62135596801\"]");
}

TEST(SyslogMessageTest, HeaderFieldsAreCutWithoutSplittingAnEscapeAndAreNeverEmpty) {
    for (std::size_t length = 40; length < 64; ++length) {
        std::string field;
        appendHeaderField(field, std::string(length, '\x01'), kMaxAppNameLength);
        EXPECT_LE(field.size(), kMaxAppNameLength);
        EXPECT_EQ(field.size() % 3, 0u) << field;
        std::string plain;
        appendHeaderField(plain, std::string(length, 'a') + "%", kMaxAppNameLength);
        const std::string kept(std::min(length, kMaxAppNameLength), 'a');
        EXPECT_EQ(plain, length + 3 <= kMaxAppNameLength ? kept + "%25" : kept);
    }
    std::string empty;
    appendHeaderField(empty, "", kMaxAppNameLength);
    EXPECT_EQ(empty, "-");
    std::string dash;
    appendHeaderField(dash, "-", kMaxAppNameLength);
    EXPECT_EQ(dash, "%2D");
}

TEST(SyslogMessageTest, EveryTruncationOfAMessageInsideItsHeaderOrDataIsRefused) {
    const std::string message = encode(makeRecord("name", "text", "app", 1, 9, 1700000000));
    const std::size_t dataEnd = message.find("] ") + 1;
    for (std::size_t length = 0; length <= message.size(); ++length) {
        SyslogMessage parsed;
        const char* error = parseSyslogMessage(std::string_view(message).substr(0, length), parsed);
        if (length < dataEnd) {
            EXPECT_NE(error, nullptr) << "accepted: " << message.substr(0, length);
        } else {
            EXPECT_EQ(error, nullptr) << message.substr(0, length) << ": " << error;
        }
    }
}

TEST(SyslogMessageTest, HostileLinesAreRefusedWithAReason) {
    const std::string host(256, 'h');
    const std::vector<std::pair<std::string, std::string>> lines = {
        {"hello world", "no <PRI>"},
        {"<> 1 - - - - - -", "no valid <PRI>"},
        {"<192>1 - - - - - -", "no valid <PRI>"},
        {"<1234>1 - - - - - -", "no valid <PRI>"},
        {"<13>2 - - - - - -", "version"},
        {"<13>1 - " + host + " a - - -", "HOSTNAME longer"},
        {"<13>1 - h " + std::string(49, 'a') + " - - -", "APP-NAME longer"},
        {"<13>1 - h a " + std::string(129, '1') + " - -", "PROCID longer"},
        {"<13>1 - h a - " + std::string(33, 'm') + " -", "MSGID longer"},
        {"<13>1 - h\tx a - - -", "not printable"},
        {"<13>1 - h  a - - -", "empty header field"},
        {"<13>1 - h a - - x", "no structured data"},
        {"<13>1 - h a - - [id", "not terminated"},
        {"<13>1 - h a - - [id p=\"v]", "not terminated"},
        {"<13>1 - h a - - [id p=\"v\\\"]", "not terminated"},
        {"<13>1 - h a - - [id p=v]", "=\"value\""},
        {"<13>1 - h a - - [" + std::string(33, 'i') + "]", "longer than 32"},
        {"<13>1 - h a - - [id p=\"v\"]x", "not followed by a space"},
        {"<13>1 - h a - - [id  p=\"v\"]", "empty or invalid name"},
        {"<13>1 - h a - - []", "empty or invalid name"},
    };
    for (const auto& [line, reason] : lines) {
        SyslogMessage parsed;
        const char* error = parseSyslogMessage(line, parsed);
        ASSERT_NE(error, nullptr) << line;
        EXPECT_NE(std::string(error).find(reason), std::string::npos) << line << ": " << error;
    }
}

TEST(SyslogMessageTest, BadEscapesStandForThemselvesAndDecodingStopsAtTheField) {
    const std::vector<std::tuple<std::string, bool, std::string>> cases = {
        {"%41%62", false, "Ab"},    {"%G1%4", false, "%G1%4"},      {"%", false, "%"},
        {"a\\b\\", true, "a\\b\\"}, {"\\]\\\"\\\\", true, "]\"\\"}, {"\\]", false, "\\]"},
        {"%5C%25", true, "\\%"},
    };
    for (const auto& [encoded, paramValue, decoded] : cases) {
        char out[64];
        const std::size_t length = decodeText(encoded, paramValue, out, sizeof out);
        EXPECT_EQ(std::string(out, length), decoded) << encoded;
    }
    char small[4];
    EXPECT_EQ(decodeText("%41%42%43%44%45", false, small, sizeof small), sizeof small);
    EXPECT_EQ(std::string(small, sizeof small), "ABCD");
}

TEST(SyslogMessageTest, OversizeTextsAreCutToTheirFields) {
    const std::string line = "<15>1 - h app 1 trace [quorvane@32473 name=\"" +
                             std::string(100000, 'n') + "\"] " + std::string(1 << 20, 't');
    SyslogMessage parsed;
    ASSERT_EQ(parseSyslogMessage(line, parsed), nullptr);
    TraceRecord record;
    ASSERT_EQ(recordFromMessage(parsed, 5, record), nullptr);
    EXPECT_EQ(recordFieldText(record.entryName), std::string(127, 'n'));
    EXPECT_EQ(recordFieldText(record.entryText), std::string(511, 't'));
    EXPECT_EQ(record.timestamp, 5) << "no time anywhere: the time it arrived";
}

TEST(SyslogMessageTest, TracesWhoseNumbersAreNotNumbersAreRefused) {
    const std::vector<std::pair<std::string, std::string>> params = {
        {"depth=\"x\"", "depth"},  {"depth=\"2147483648\"", "depth"},
        {"depth=\" 1\"", "depth"}, {"time=\"1.5\"", "time"},
        {"time=\"\"", "time"},
    };
    for (const auto& [param, reason] : params) {
        const std::string line = "<15>1 - h app 1 trace [quorvane@32473 " + param + "] text";
        SyslogMessage parsed;
        ASSERT_EQ(parseSyslogMessage(line, parsed), nullptr) << line;
        TraceRecord record;
        const char* error = recordFromMessage(parsed, 0, record);
        ASSERT_NE(error, nullptr) << line;
        EXPECT_NE(std::string(error).find(reason), std::string::npos) << error;
    }
    SyslogMessage parsed;
    ASSERT_EQ(parseSyslogMessage("<13>1 2024-13-01T00:00:00Z h a - - - x", parsed), nullptr);
    TraceRecord record;
    EXPECT_NE(recordFromMessage(parsed, 0, record), nullptr) << "month 13";
}

TEST(SyslogMessageTest, OtherMessagesShowAtDepthZeroWithTheirOwnTextAndTime) {
    SyslogMessage parsed;
    ASSERT_EQ(parseSyslogMessage("<30>1 2024-05-01T12:00:00.123456+02:00 web-1 sshd 991 - - "
                                 "Accepted key %41 for \\]",
                                 parsed),
              nullptr);
    TraceRecord record;
    ASSERT_EQ(recordFromMessage(parsed, 0, record), nullptr);
    EXPECT_STREQ(record.originName, "web-1/sshd");
    EXPECT_STREQ(record.entryName, "info");
    EXPECT_STREQ(record.entryText, "Accepted key %41 for \\]") << "taken as it came";
    EXPECT_EQ(record.depthDelta, 0);
    EXPECT_EQ(record.timestamp, 1714557600) << "10:00:00 UTC";
    EXPECT_EQ(record.senderKey, syslogSenderKey("web-1", "991"));

    // A trace MSGID without the element, or the element under another MSGID, is no trace.
    for (const char* line : {"<15>1 - h app 7 trace - text",
                             "<15>1 - h app 7 ID47 "
                             "[quorvane@32473 depth=\"3\"] text"}) {
        ASSERT_EQ(parseSyslogMessage(line, parsed), nullptr);
        ASSERT_EQ(recordFromMessage(parsed, 77, record), nullptr);
        EXPECT_EQ(record.depthDelta, 0) << line;
        EXPECT_EQ(record.timestamp, 77);
        EXPECT_STREQ(record.entryText, "text");
    }
    EXPECT_STREQ(record.entryName, "ID47");
}

TEST(SyslogMessageTest, SenderKeysDifferForOneThreadIdOnTwoHosts) {
    EXPECT_NE(syslogSenderKey("machine-a", "4242"), syslogSenderKey("machine-b", "4242"));
    EXPECT_NE(syslogSenderKey("a1", "7"), syslogSenderKey("a", "17")) << "the NUL separates";
    EXPECT_EQ(syslogSenderKey("machine-a", "4242"), syslogSenderKey("machine-a", "4242"));
    // FNV-1a of the empty host, a NUL and the empty PROCID.
    EXPECT_EQ(syslogSenderKey("", ""), (2166136261u ^ 0u) * 16777619u);
}

TEST(SyslogMessageTest, Rfc3339TimesConvertWithTheirOffsetAndBadOnesAreRefused) {
    std::int64_t seconds = 0;
    ASSERT_TRUE(parseRfc3339("1970-01-01T00:00:00Z", seconds));
    EXPECT_EQ(seconds, 0);
    ASSERT_TRUE(parseRfc3339("2023-11-14T22:13:20Z", seconds));
    EXPECT_EQ(seconds, 1700000000);
    std::uint32_t nanoseconds = 0;
    ASSERT_TRUE(parseRfc3339("2023-11-15T03:43:20.999+05:30", seconds, nanoseconds));
    EXPECT_EQ(seconds, 1700000000);
    EXPECT_EQ(nanoseconds, 999'000'000u);
    ASSERT_TRUE(parseRfc3339("2023-11-14T22:13:20.1234567891Z", seconds, nanoseconds));
    EXPECT_EQ(nanoseconds, 123'456'789u) << "digits past the ninth are dropped";
    ASSERT_TRUE(parseRfc3339("0001-01-01t00:00:00z", seconds));
    EXPECT_EQ(seconds, -62135596800);
    for (const char* bad :
         {"", "2023-11-14", "2023-11-14T22:13:20", "2023-11-14T24:00:00Z", "2023-11-14T22:13:20.Z",
          "2023-11-14T22:13:20+0530", "2023-11-14 22:13:20Z", "2023-00-14T22:13:20Z"}) {
        EXPECT_FALSE(parseRfc3339(bad, seconds)) << bad;
    }
}

TEST(SyslogMessageTest, RepeatsOfAForwarderRunAreToldApartFromLateLinesOtherRunsAndHosts) {
    const auto message = [](const std::string& host, const std::string& run, std::uint64_t line) {
        return "<15>1 - " + host + " app 7 trace [quorvane@32473 run=\"" + run + "\" line=\"" +
               std::to_string(line) + "\"] x";
    };
    RepeatFilter filter;
    const auto check = [&filter](const std::string& line, bool repeat, bool post) {
        SyslogMessage parsed;
        ASSERT_EQ(parseSyslogMessage(line, parsed), nullptr) << line;
        EXPECT_EQ(filter.isRepeat(parsed), repeat) << line;
        if (post) filter.notePosted(parsed);
    };
    check(message("a", "r1", 1), false, true);
    check(message("a", "r1", 2), false, false);  // refused (no viewer): not posted
    check(message("a", "r1", 2), false, true);
    check(message("a", "r1", 1), true, false);
    check(message("a", "r1", 2), true, false);
    check(message("a", "r2", 1), false, true);  // a new run of the forwarder
    check(message("b", "r1", 1), false, true);  // another host
    check(message("a", "r1", 5), false, true);
    check(message("a", "r1", 3), false, true);  // passed on out of order: late, not repeated
    check(message("a", "r1", 4), false, true);
    check(message("a", "r1", 3), true, false);
    check(message("a", "r1", 5), true, false);
    check(message("a", "r1", 5 + RepeatFilter::kWindow), false, true);
    check(message("a", "r1", 5), false, true);  // too old to tell: taken as new
    check(message("a", "r1", 6), false, true);  // the oldest line the window still holds
    check(message("a", "r1", 6), true, false);
    check("<15>1 - a app 7 trace [quorvane@32473 line=\"1\"] x", false, true);
    check("<15>1 - a app 7 trace [quorvane@32473 line=\"1\"] x", false, true);
}

// A run seen again counts as recent, so a flood of new runs forgets the runs gone quiet first.
TEST(SyslogMessageTest, RepeatFilterForgetsTheRunSeenLeastRecentlyOnceFull) {
    RepeatFilter filter;
    const auto seen = [&filter](const std::string& run, bool post) {
        const std::string line =
            "<15>1 - a app 7 trace [quorvane@32473 run=\"" + run + "\" line=\"1\"] x";
        SyslogMessage parsed;
        EXPECT_EQ(parseSyslogMessage(line, parsed), nullptr) << line;
        const bool repeat = filter.isRepeat(parsed);
        if (post) filter.notePosted(parsed);
        return repeat;
    };
    for (std::size_t run = 0; run < RepeatFilter::kMaxRuns; ++run) seen(std::to_string(run), true);
    EXPECT_TRUE(seen("0", false));
    EXPECT_FALSE(seen("new", true));  // takes the place of run 1, seen least recently
    EXPECT_EQ(filter.runCount(), RepeatFilter::kMaxRuns);
    EXPECT_TRUE(seen("0", false));
    EXPECT_FALSE(seen("1", false));
    EXPECT_TRUE(seen("2", false));
    EXPECT_TRUE(seen("new", false));

    const std::string tooLong(RepeatFilter::kMaxRunLength + 1, 'f');
    EXPECT_FALSE(seen(tooLong, true));
    EXPECT_FALSE(seen(tooLong, true)) << "no forwarder's run: never a repeat, never kept";
    EXPECT_TRUE(seen("3", false)) << "and it pushed out no run";
}

}  // namespace
