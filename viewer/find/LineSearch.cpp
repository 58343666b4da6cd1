#include "viewer/find/LineSearch.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "viewer/lines/LineText.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {
QString textOf(std::string_view line) {
    return lineText(line);
}

unsigned char lowerAscii(unsigned char byte) {
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

constexpr std::uint64_t kHighBits = 0x8080808080808080;
// The bit that makes an ASCII capital small.
constexpr unsigned char kCaseBit = 0x20;
constexpr std::size_t kBlock = 16;

}  // namespace

bool LineSearch::setPattern(const QString& pattern, bool matchCase, bool regularExpression) {
    m_active = false;
    m_error.clear();
    m_bytes.clear();
    m_regularExpression = regularExpression;
    m_matchCase = matchCase;
    const Qt::CaseSensitivity sensitivity = matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
    if (regularExpression) {
        m_regex =
            QRegularExpression(pattern, matchCase ? QRegularExpression::NoPatternOption
                                                  : QRegularExpression::CaseInsensitiveOption);
        if (!m_regex.isValid()) {
            m_error = m_regex.errorString();
            return false;
        }
    } else {
        m_plain = QStringMatcher(pattern, sensitivity);
        const bool ascii =
            std::all_of(pattern.begin(), pattern.end(), [](QChar c) { return c.unicode() < 0x80; });
        if (!pattern.isEmpty() && ascii) {
            for (const QChar c : pattern) {
                const char byte = c.toLatin1();
                m_bytes.push_back(
                    matchCase ? byte
                              : static_cast<char>(lowerAscii(static_cast<unsigned char>(byte))));
            }
        }
    }
    m_active = !pattern.isEmpty();
    return true;
}

bool LineSearch::matches(std::string_view line) const {
    if (!m_active) {
        return false;
    }
    if (m_bytes.empty()) {
        return matches(textOf(line));
    }
    return holdsBytes(line);
}

bool LineSearch::holdsBytes(std::string_view line) const {
    // Every place whose first and last bytes can be the pattern's is compared in full. Without
    // case the case bit (0x20) is set on both sides, so that a capital and its small letter
    // compare equal, and a byte equal to the pattern's always does; the few other bytes let
    // through are refused by the comparison in full.
    const std::size_t length = m_bytes.size();
    const char* const begin = line.data();
    const auto holdsAt = [&](std::size_t start) {
        for (std::size_t i = 0; i < length; ++i) {
            const auto byte = static_cast<unsigned char>(begin[start + i]);
            if ((m_matchCase ? byte : lowerAscii(byte)) != static_cast<unsigned char>(m_bytes[i])) {
                return false;
            }
        }
        return true;
    };
    const unsigned char caseMask = m_matchCase ? 0 : kCaseBit;
    const auto firstKey = static_cast<unsigned char>(m_bytes.front() | caseMask);
    const auto lastKey = static_cast<unsigned char>(m_bytes.back() | caseMask);
    // Bytes before `start` have been looked at for the high bit.
    std::size_t start = 0;
    std::uint64_t seen = 0;
    if (line.size() >= length) {
        const std::size_t lastStart = line.size() - length;
#if defined(__SSE2__)
        // Sixteen places at a time.
        const __m128i caseBit = _mm_set1_epi8(static_cast<char>(caseMask));
        const __m128i first = _mm_set1_epi8(static_cast<char>(firstKey));
        const __m128i last = _mm_set1_epi8(static_cast<char>(lastKey));
        __m128i high = _mm_setzero_si128();
        for (; start + kBlock <= lastStart + 1; start += kBlock) {
            const __m128i heads = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + start));
            const __m128i tails =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + start + length - 1));
            high = _mm_or_si128(high, heads);
            auto candidates = static_cast<unsigned>(_mm_movemask_epi8(
                _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(heads, caseBit), first),
                              _mm_cmpeq_epi8(_mm_or_si128(tails, caseBit), last))));
            while (candidates != 0) {
                if (holdsAt(start + static_cast<std::size_t>(__builtin_ctz(candidates)))) {
                    return true;
                }
                candidates &= candidates - 1;
            }
        }
        seen = _mm_movemask_epi8(high) != 0 ? kHighBits : 0;
#endif
        for (std::size_t at = start; at <= lastStart; ++at) {
            if ((static_cast<unsigned char>(begin[at]) | caseMask) == firstKey &&
                (static_cast<unsigned char>(begin[at + length - 1]) | caseMask) == lastKey &&
                holdsAt(at)) {
                return true;
            }
        }
    }
    // Not in the bytes: an ASCII byte is never part of a longer UTF-8 sequence, so with case the
    // text holds no match either. Without case, a line with a byte at or above 0x80 may still
    // match as text, where a letter such as the Kelvin sign folds to an ASCII one.
    if (m_matchCase) {
        return false;
    }
    const bool ascii = (seen & kHighBits) == 0 && isAscii(line.substr(start));
    return !ascii && matches(textOf(line));
}

bool LineSearch::matches(const QString& text) const {
    if (!m_active) {
        return false;
    }
    if (m_regularExpression) {
        return m_regex.match(text).hasMatch();
    }
    return m_plain.indexIn(text) >= 0;
}

std::vector<std::pair<qsizetype, qsizetype>> LineSearch::spans(const QString& text) const {
    std::vector<std::pair<qsizetype, qsizetype>> found;
    if (!m_active) {
        return found;
    }
    if (m_regularExpression) {
        auto it = m_regex.globalMatch(text);
        while (it.hasNext()) {
            const QRegularExpressionMatch match = it.next();
            if (match.capturedLength() > 0) {
                found.emplace_back(match.capturedStart(), match.capturedLength());
            }
        }
        return found;
    }
    const qsizetype length = m_plain.pattern().size();
    for (qsizetype at = m_plain.indexIn(text); at >= 0; at = m_plain.indexIn(text, at + length)) {
        found.emplace_back(at, length);
    }
    return found;
}
