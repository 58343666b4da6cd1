#include "client/EntryFormat.h"

#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace quorvane {

namespace {

// A width or precision above this goes to vsnprintf, which knows its own limits.
constexpr int kLargestField = 4096;
// Enough for the octal digits of a 64-bit value.
constexpr std::size_t kDigitsSize = 24;

// Writes into the buffer while there is room and counts everything, as vsnprintf does.
class Output {
  public:
    Output(char* out, std::size_t size) : m_out(out), m_room(size - 1) {}
    void put(char c) {
        if (m_length < m_room) m_out[m_length] = c;
        ++m_length;
    }
    void put(const char* text, std::size_t length) {
        if (m_length < m_room) {
            const std::size_t fits = length < m_room - m_length ? length : m_room - m_length;
            std::memcpy(m_out + m_length, text, fits);
        }
        m_length += length;
    }
    void repeat(char c, int count) {
        for (int i = 0; i < count; ++i) put(c);
    }
    std::size_t finish() {
        m_out[m_length < m_room ? m_length : m_room] = '\0';
        return m_length;
    }

  private:
    char* m_out;
    std::size_t m_room;
    std::size_t m_length = 0;
};

struct Directive {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    bool zero = false;
    int width = 0;
    int precision = -1;  // none
    enum class Length {
        Int,
        Char,
        Short,
        Long,
        LongLong,
        Max,
        Size,
        Difference
    } length = Length::Int;
};

// Reads flags, width, precision and length after '%'; false for anything this file leaves to
// vsnprintf (positional arguments, grouping, `L`, `q`, fields too wide).
bool parseDirective(const char*& cursor, Directive& directive, std::va_list& arguments) {
    for (;; ++cursor) {
        switch (*cursor) {
            case '-':
                directive.left = true;
                continue;
            case '+':
                directive.plus = true;
                continue;
            case ' ':
                directive.space = true;
                continue;
            case '#':
                directive.alternate = true;
                continue;
            case '0':
                directive.zero = true;
                continue;
            default:
                break;
        }
        break;
    }
    if (*cursor == '*') {
        ++cursor;
        const int width = va_arg(arguments, int);
        if (width < 0) directive.left = true;
        directive.width = width < 0 ? (width == INT32_MIN ? kLargestField + 1 : -width) : width;
    } else {
        while (*cursor >= '0' && *cursor <= '9') {
            directive.width = directive.width * 10 + (*cursor++ - '0');
            if (directive.width > kLargestField) return false;
        }
        if (*cursor == '$') return false;
    }
    if (*cursor == '.') {
        ++cursor;
        directive.precision = 0;
        if (*cursor == '*') {
            ++cursor;
            const int precision = va_arg(arguments, int);
            directive.precision = precision < 0 ? -1 : precision;
        } else {
            while (*cursor >= '0' && *cursor <= '9') {
                directive.precision = directive.precision * 10 + (*cursor++ - '0');
                if (directive.precision > kLargestField) return false;
            }
        }
    }
    if (directive.width > kLargestField || directive.precision > kLargestField) return false;
    using Length = Directive::Length;
    switch (*cursor) {
        case 'h':
            ++cursor;
            directive.length = *cursor == 'h' ? (++cursor, Length::Char) : Length::Short;
            break;
        case 'l':
            ++cursor;
            directive.length = *cursor == 'l' ? (++cursor, Length::LongLong) : Length::Long;
            break;
        case 'j':
            ++cursor;
            directive.length = Length::Max;
            break;
        case 'z':
            ++cursor;
            directive.length = Length::Size;
            break;
        case 't':
            ++cursor;
            directive.length = Length::Difference;
            break;
        default:
            break;
    }
    return true;
}

// Every length but int and the narrow ones is a 64-bit integer here, read as long long.
static_assert(sizeof(long) == sizeof(long long) && sizeof(std::intmax_t) == sizeof(long long) &&
              sizeof(std::size_t) == sizeof(long long) &&
              sizeof(std::ptrdiff_t) == sizeof(long long));

std::uint64_t unsignedArgument(Directive::Length length, std::va_list& arguments) {
    using Length = Directive::Length;
    switch (length) {
        case Length::Char:
            return static_cast<unsigned char>(va_arg(arguments, unsigned));
        case Length::Short:
            return static_cast<unsigned short>(va_arg(arguments, unsigned));
        case Length::Long:
        case Length::LongLong:
        case Length::Max:
        case Length::Size:
        case Length::Difference:
            return va_arg(arguments, unsigned long long);
        case Length::Int:
            break;
    }
    return va_arg(arguments, unsigned);
}

std::int64_t signedArgument(Directive::Length length, std::va_list& arguments) {
    using Length = Directive::Length;
    switch (length) {
        case Length::Char:
            return static_cast<signed char>(va_arg(arguments, int));
        case Length::Short:
            return static_cast<short>(va_arg(arguments, int));
        case Length::Long:
        case Length::LongLong:
        case Length::Max:
        case Length::Size:
        case Length::Difference:
            return va_arg(arguments, long long);
        case Length::Int:
            break;
    }
    return va_arg(arguments, int);
}

// One integer conversion: sign or base prefix, zeros to the precision, digits, padded to width.
// "00" to "99", for writing decimal digits two at a time.
constexpr std::array<char, 200> kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (std::size_t i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// Writes the decimal digits of `value` (none for 0) so that they end just before `end`, two
// digits a division; returns how many it wrote.
template <typename Unsigned>
std::size_t decimalDigits(char* end, Unsigned value) {
    char* at = end;
    while (value >= 100) {
        const auto pair = static_cast<std::size_t>(value % 100) * 2;
        value /= 100;
        at -= 2;
        std::memcpy(at, kDigitPairs.data() + pair, 2);
    }
    if (value >= 10) {
        at -= 2;
        std::memcpy(at, kDigitPairs.data() + static_cast<std::size_t>(value) * 2, 2);
    } else if (value != 0) {
        *--at = static_cast<char>('0' + value);
    }
    return static_cast<std::size_t>(end - at);
}

void putInteger(Output& out, const Directive& directive, std::uint64_t magnitude, bool negative,
                bool isSigned, char conversion) {
    const unsigned base = conversion == 'o'                          ? 8
                          : (conversion == 'x' || conversion == 'X') ? 16
                                                                     : 10;
    const char* digitSet = conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    char digits[kDigitsSize];
    std::size_t count = 0;
    // Each base with its constant divisor, which the compiler turns into multiplies and shifts
    // (a division by a variable costs tens of cycles per digit).
    if (base == 10) {
        // Most values fit 32 bits, whose division by a constant is cheaper still.
        count = magnitude <= UINT32_MAX
                    ? decimalDigits(digits + kDigitsSize, static_cast<std::uint32_t>(magnitude))
                    : decimalDigits(digits + kDigitsSize, magnitude);
    } else if (base == 16) {
        for (std::uint64_t value = magnitude; value != 0; value >>= 4)
            digits[kDigitsSize - 1 - count++] = digitSet[value & 15];
    } else {
        for (std::uint64_t value = magnitude; value != 0; value >>= 3)
            digits[kDigitsSize - 1 - count++] = static_cast<char>('0' + (value & 7));
    }
    int zeros = directive.precision > static_cast<int>(count)
                    ? directive.precision - static_cast<int>(count)
                    : 0;
    if (directive.precision < 0 && magnitude == 0) zeros = 1;  // "0" unless a precision says none
    // '#' with octal makes the first digit a 0.
    if (base == 8 && directive.alternate && zeros == 0) zeros = 1;

    char prefix[2];
    int prefixLength = 0;
    if (isSigned) {
        if (negative)
            prefix[prefixLength++] = '-';
        else if (directive.plus)
            prefix[prefixLength++] = '+';
        else if (directive.space)
            prefix[prefixLength++] = ' ';
    } else if (base == 16 && directive.alternate && magnitude != 0) {
        prefix[prefixLength++] = '0';
        prefix[prefixLength++] = conversion;
    }
    const int body = prefixLength + zeros + static_cast<int>(count);
    const int padding = directive.width > body ? directive.width - body : 0;
    if (!directive.left && !(directive.zero && directive.precision < 0)) out.repeat(' ', padding);
    out.put(prefix, static_cast<std::size_t>(prefixLength));
    if (!directive.left && directive.zero && directive.precision < 0) out.repeat('0', padding);
    out.repeat('0', zeros);
    out.put(digits + kDigitsSize - count, count);
    if (directive.left) out.repeat(' ', padding);
}

void putText(Output& out, const Directive& directive, const char* text, std::size_t length) {
    const int padding =
        directive.width > static_cast<int>(length) ? directive.width - static_cast<int>(length) : 0;
    if (!directive.left) out.repeat(' ', padding);
    out.put(text, length);
    if (directive.left) out.repeat(' ', padding);
}

// Formats the whole text; false as soon as something is left to vsnprintf.
bool formatHere(Output& out, const char* format, std::va_list& arguments) {
    for (const char* cursor = format; *cursor != '\0';) {
        if (*cursor != '%') {
            const char* next = std::strchr(cursor, '%');
            const std::size_t length =
                next == nullptr ? std::strlen(cursor) : static_cast<std::size_t>(next - cursor);
            out.put(cursor, length);
            cursor += length;
            continue;
        }
        ++cursor;
        if (*cursor == '%') {
            out.put('%');
            ++cursor;
            continue;
        }
        Directive directive;
        if (!parseDirective(cursor, directive, arguments)) return false;
        const char conversion = *cursor++;
        switch (conversion) {
            case 'd':
            case 'i': {
                const std::int64_t value = signedArgument(directive.length, arguments);
                const std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value)
                                                          : static_cast<std::uint64_t>(value);
                putInteger(out, directive, magnitude, value < 0, true, conversion);
                break;
            }
            case 'u':
            case 'o':
            case 'x':
            case 'X':
                putInteger(out, directive, unsignedArgument(directive.length, arguments), false,
                           false, conversion);
                break;
            case 'c': {
                if (directive.length != Directive::Length::Int || directive.zero) return false;
                const char c =
                    static_cast<char>(static_cast<unsigned char>(va_arg(arguments, int)));
                putText(out, directive, &c, 1);
                break;
            }
            case 's': {
                if (directive.length != Directive::Length::Int || directive.zero) return false;
                const char* text = va_arg(arguments, const char*);
                if (text == nullptr) return false;  // the C library's own words for it
                const std::size_t length =
                    directive.precision < 0
                        ? std::strlen(text)
                        : strnlen(text, static_cast<std::size_t>(directive.precision));
                putText(out, directive, text, length);
                break;
            }
            case 'p': {
                // Only the plain form; flags, width and precision go to the C library.
                if (directive.left || directive.plus || directive.space || directive.alternate ||
                    directive.zero || directive.width != 0 || directive.precision >= 0 ||
                    directive.length != Directive::Length::Int)
                    return false;
                const void* pointer = va_arg(arguments, void*);
                if (pointer == nullptr) return false;
                Directive hex;
                hex.alternate = true;
                putInteger(out, hex, reinterpret_cast<std::uintptr_t>(pointer), false, false, 'x');
                break;
            }
            default:
                return false;
        }
    }
    return true;
}

}  // namespace

int formatEntryText(char* out, std::size_t size, const char* format, std::va_list arguments) {
    std::va_list work;
    va_copy(work, arguments);
    Output output(out, size);
    const bool done = formatHere(output, format, work);
    va_end(work);
    if (!done) return std::vsnprintf(out, size, format, arguments);
    const std::size_t length = output.finish();
    return length > INT_MAX ? -1 : static_cast<int>(length);
}

}  // namespace quorvane
