#include "records/TraceExport.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "records/RecordFields.h"

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

// Length of the UTF-8 sequence starting at `text[0]`, or 0 when the bytes are not one.
std::size_t utf8SequenceLength(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead >= 0xF5 || length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 0;
    const auto second = static_cast<unsigned char>(text[1]);
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90))
        return 0;
    return length;
}

void appendNumber(long long value, std::string& out) {
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void appendField(const char* key, std::string_view text, std::string& out) {
    out += ",\"";
    out += key;
    out += "\":\"";
    appendJsonText(text, out);
    out += '"';
}

void appendNumberField(const char* key, long long value, std::string& out) {
    out += ",\"";
    out += key;
    out += "\":";
    appendNumber(value, out);
}

// Microseconds with three decimals: Trace Event times keep nanoseconds that way.
void appendMicroseconds(std::int64_t nanoseconds, std::string& out) {
    if (nanoseconds < 0) {
        char text[32];
        const int length =
            std::snprintf(text, sizeof text, "%.3f", static_cast<double>(nanoseconds) / 1000);
        out.append(text, static_cast<std::size_t>(length));
        return;
    }
    char text[32];
    char* end = std::to_chars(text, text + 24, nanoseconds / 1000).ptr;
    const auto rest = static_cast<int>(nanoseconds % 1000);
    *end++ = '.';
    *end++ = static_cast<char>('0' + rest / 100);
    *end++ = static_cast<char>('0' + rest / 10 % 10);
    *end++ = static_cast<char>('0' + rest % 10);
    out.append(text, end);
}

// "2026-12-08T16:51:48.123456789Z", or without the fraction for a record of whole seconds.
void appendUtcTime(const ExportedFields& fields, bool precise, std::string& out) {
    const auto seconds = static_cast<std::time_t>(fields.timestamp);
    std::tm utc{};
    char text[64];
    std::size_t length = 0;
    if (gmtime_r(&seconds, &utc) != nullptr)
        length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    out.append(text, length);
    if (precise) {
        char fraction[16];
        out += formatFraction(fields.nanoseconds, 9, fraction);
    }
    out += 'Z';
}

std::int64_t recordTime(const ExportedFields& fields, const ScopeTimes::Timing& timing) {
    return timing.precise ? timing.time : fields.timestamp * 1'000'000'000;
}

// The length of the run at the start of `text` that goes into a JSON string as it is: printable
// ASCII other than '"' and '\\'. Sixteen bytes at a time where SSE2 is, as text is mostly such
// runs.
std::size_t plainRun(std::string_view text) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi8(0x20);
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i del = _mm_set1_epi8(0x7F);
    // Bit n set where byte n of the 16 at `at` needs escaping or is not ASCII.
    const auto specialBytes = [&](std::size_t at) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
        // Signed: bytes from 0x80 up are below 0x20 too.
        const __m128i special = _mm_or_si128(
            _mm_or_si128(_mm_cmplt_epi8(bytes, space), _mm_cmpeq_epi8(bytes, del)),
            _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)));
        return static_cast<unsigned>(_mm_movemask_epi8(special));
    };
    constexpr std::size_t kBlock = sizeof(__m128i);
    for (; i + kBlock <= text.size(); i += kBlock) {
        if (const unsigned mask = specialBytes(i); mask != 0)
            return i + static_cast<std::size_t>(__builtin_ctz(mask));
    }
    // The last bytes: the block that ends with the text, without those already looked at.
    if (i < text.size() && text.size() >= kBlock) {
        const std::size_t last = text.size() - kBlock;
        const unsigned mask = specialBytes(last) >> (i - last);
        return mask != 0 ? i + static_cast<std::size_t>(__builtin_ctz(mask)) : text.size();
    }
#endif
    for (; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') break;
    }
    return i;
}

}  // namespace

void appendJsonText(std::string_view text, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < text.size();) {
        // Runs of printable ASCII, the common case, go over in one piece.
        const std::size_t plain = i + plainRun(text.substr(i));
        if (plain > i) {
            out.append(text.substr(i, plain - i));
            i = plain;
            if (i == text.size()) break;
        }
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80) {
            if (const std::size_t length = utf8SequenceLength(text.substr(i)); length > 0) {
                out.append(text.substr(i, length));
                i += length;
                continue;
            }
            // Latin-1: U+0080 .. U+00FF as two UTF-8 bytes.
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        } else if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte < 0x20 || byte == 0x7F) {
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            out += static_cast<char>(byte);
        }
        ++i;
    }
}

ExportedFields ExportedFields::of(const TraceRecord& record) {
    ExportedFields fields;
    fields.senderKey = record.senderKey;
    fields.timestamp = record.timestamp;
    fields.nanoseconds = record.nanoseconds;
    fields.sequence = record.sequence;
    fields.depthDelta = record.depthDelta;
    fields.origin = recordFieldText(record.originName);
    fields.name = recordFieldText(record.entryName);
    fields.text = recordFieldText(record.entryText);
    return fields;
}

void appendJsonLine(const ExportedRecord& exported, std::string& out) {
    const ExportedFields& fields = exported.fields;
    const ScopeTimes::Timing& timing = exported.timing;
    out += "{\"line\":";
    appendNumber(exported.lineNumber, out);
    appendNumberField("sender", fields.senderKey, out);
    out += ",\"time\":\"";
    appendUtcTime(fields, timing.precise, out);
    out += '"';
    appendNumberField("timestamp", fields.timestamp, out);
    if (timing.precise) {
        appendNumberField("nanoseconds", fields.nanoseconds, out);
        if (fields.hasSequence) appendNumberField("sequence", fields.sequence, out);
    }
    appendField("origin", fields.origin, out);
    appendField("name", fields.name, out);
    appendField("text", fields.text, out);
    appendNumberField("delta", fields.depthDelta, out);
    appendNumberField("depth", exported.depth, out);
    if (timing.lostBefore > 0) appendNumberField("lost_before", timing.lostBefore, out);
    if (timing.closesScope) {
        appendNumberField("entry_line", timing.entryLine, out);
        appendNumberField("duration_ns", timing.duration, out);
    } else if (exported.entryDuration >= 0) {
        appendNumberField("duration_ns", exported.entryDuration, out);
    }
    out += "}\n";
}

// A short run of an event's fixed parts and numbers, built on the stack and appended to the
// output in one piece. Everything put into one is of bounded length.
class TraceEventWriter::Piece {
  public:
    void add(std::string_view text) {
        std::memcpy(m_end, text.data(), text.size());
        m_end += text.size();
    }
    void add(char c) { *m_end++ = c; }
    // The first `length` bytes of `from`, copied whole: a copy of fixed size is a few moves, where
    // one of variable size is a call.
    template <std::size_t N>
    void addLeading(const std::array<char, N>& from, std::size_t length) {
        std::memcpy(m_end, from.data(), N);
        m_end += length;
    }
    void number(long long value) {
        m_end = std::to_chars(m_end, m_text + sizeof m_text, value).ptr;
    }
    // `value` (below 100) as two digits.
    void twoDigits(unsigned value) {
        static constexpr char kPairs[] =
            "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
            "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
            "8081828384858687888990919293949596979899";
        std::memcpy(m_end, kPairs + std::size_t{2} * value, 2);
        m_end += 2;
    }
    void appendTo(std::string& out) const {
        out.append(m_text, static_cast<std::size_t>(m_end - m_text));
    }

  private:
    static constexpr std::size_t kBytes = 256;  // well above the longest piece an event builds
    char m_text[kBytes];
    char* m_end = m_text;
};

TraceEventWriter::ThreadIds::ThreadIds(std::uint32_t pid, std::uint32_t tid) {
    char* end = text.data();
    const auto add = [&](std::string_view part) {
        std::memcpy(end, part.data(), part.size());
        end += part.size();
    };
    add(",\"pid\":");
    end = std::to_chars(end, text.data() + text.size(), pid).ptr;
    add(",\"tid\":");
    end = std::to_chars(end, text.data() + text.size(), tid).ptr;
    length = static_cast<std::uint8_t>(end - text.data());
}

void TraceEventWriter::begin(std::string& out) {
    out += "{\"displayTimeUnit\":\"ns\",\"traceEvents\":[\n";
}

std::uint32_t TraceEventWriter::pidOf(std::string_view origin, std::string& out) {
    auto found = m_pids.find(origin);
    if (found == m_pids.end()) {
        found = m_pids.emplace(std::string(origin), static_cast<std::uint32_t>(m_pids.size() + 1))
                    .first;
        // The process's name, so that a viewer shows the origin rather than a number.
        out += m_first ? "" : ",\n";
        m_first = false;
        out += "{\"name\":\"process_name\",\"ph\":\"M\",\"pid\":";
        appendNumber(found->second, out);
        out += ",\"args\":{\"name\":\"";
        appendJsonText(origin, out);
        out += "\"}}";
    }
    return found->second;
}

TraceEventWriter::Recent& TraceEventWriter::recentOf(const ExportedFields& fields,
                                                     std::string& out) {
    // Fibonacci hashing: thread ids that differ in their low bits still spread.
    Recent& recent = m_recent[(fields.senderKey * 0x9E3779B9u) >> 28];
    if (recent.pid == 0 || recent.senderKey != fields.senderKey || recent.origin != fields.origin) {
        recent.senderKey = fields.senderKey;
        recent.origin = fields.origin;
        recent.pid = pidOf(fields.origin, out);
        recent.open = &m_open[static_cast<std::uint64_t>(recent.pid) << 32 | fields.senderKey];
        recent.ids = ThreadIds(recent.pid, fields.senderKey);
    }
    return recent;
}

void TraceEventWriter::putTime(std::int64_t nanoseconds, Piece& piece) {
    if (nanoseconds < kNanosecondsPerSecond) {
        // Before 1970 or within its first second: no whole seconds to write ahead of the rest.
        appendMicroseconds(nanoseconds, m_scratch);
        piece.add(m_scratch);
        m_scratch.clear();
        return;
    }
    // The seconds change far less often than the records: their digits are written once.
    const std::int64_t seconds = nanoseconds / kNanosecondsPerSecond;
    const auto rest = static_cast<unsigned>(nanoseconds % kNanosecondsPerSecond);
    if (seconds != m_second.seconds) {
        m_second.seconds = seconds;
        m_second.length = static_cast<std::uint8_t>(
            std::to_chars(m_second.digits.data(), m_second.digits.data() + m_second.digits.size(),
                          seconds)
                .ptr -
            m_second.digits.data());
    }
    piece.addLeading(m_second.digits, m_second.length);
    const unsigned microseconds = rest / 1000;
    piece.twoDigits(microseconds / 10000);
    piece.twoDigits(microseconds / 100 % 100);
    piece.twoDigits(microseconds % 100);
    piece.add('.');
    const unsigned fraction = rest % 1000;
    piece.add(static_cast<char>('0' + fraction / 100));
    piece.twoDigits(fraction % 100);
}

void TraceEventWriter::appendEnd(const Open& open, const Recent& sender, std::int64_t time,
                                 bool unfinished, std::string& out) {
    out += ",\n{\"name\":\"";
    appendJsonText(open.name, out);
    Piece piece;
    piece.add("\",\"ph\":\"E\"");
    piece.addLeading(sender.ids.text, sender.ids.length);
    piece.add(",\"ts\":");
    putTime(time, piece);
    if (unfinished) piece.add(",\"args\":{\"unfinished\":true}");
    piece.add('}');
    piece.appendTo(out);
}

void TraceEventWriter::append(const ExportedRecord& exported, std::string& out) {
    const ExportedFields& fields = exported.fields;
    const Recent& recent = recentOf(fields, out);
    const std::int64_t time = recordTime(fields, exported.timing);
    m_lastTime = std::max(m_lastTime, time);
    const std::string_view name = fields.name;
    std::vector<Open>& open = *recent.open;

    char phase = 'i';
    if (exported.timing.precise && fields.depthDelta > 0 &&
        open.size() < ScopeTimes::kMaxOpenScopes) {
        phase = 'B';
        open.push_back({std::string(name)});
    } else if (exported.timing.precise && fields.depthDelta < 0) {
        for (std::size_t i = open.size(); i-- > 0;) {
            if (open[i].name != name) continue;
            // Scopes opened inside it lost their leave: they end here, marked so.
            while (open.size() > i + 1) {
                appendEnd(open.back(), recent, time, true, out);
                open.pop_back();
            }
            appendEnd(open.back(), recent, time, false, out);
            open.pop_back();
            return;
        }
    }
    out += m_first ? "{\"name\":\"" : ",\n{\"name\":\"";
    m_first = false;
    appendJsonText(name, out);
    Piece piece;
    piece.add("\",\"ph\":\"");
    piece.add(phase);
    piece.add('"');
    if (phase == 'i') piece.add(",\"s\":\"t\"");
    piece.addLeading(recent.ids.text, recent.ids.length);
    piece.add(",\"ts\":");
    putTime(time, piece);
    piece.add(",\"args\":{\"line\":");
    piece.number(exported.lineNumber);
    piece.add(",\"text\":\"");
    piece.appendTo(out);
    appendJsonText(fields.text, out);
    out += "\"}}";
}

void TraceEventWriter::finish(std::string& out) {
    for (auto& [thread, open] : m_open) {
        Recent sender;
        sender.ids =
            ThreadIds(static_cast<std::uint32_t>(thread >> 32), static_cast<std::uint32_t>(thread));
        while (!open.empty()) {
            appendEnd(open.back(), sender, m_lastTime, true, out);
            open.pop_back();
        }
    }
    out += "\n]}\n";
}
