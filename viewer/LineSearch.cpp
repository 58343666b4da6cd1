#include "viewer/LineSearch.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {
QString textOf(std::string_view line) {
    return QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size()));
}

unsigned char lowerAscii(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

constexpr std::uint64_t kHighBits = 0x8080808080808080;

constexpr std::uint64_t kEveryByte = 0x0101010101010101;

// The eight bytes of `word` with the ASCII capitals made small; other bytes are left alone.
std::uint64_t lowerAsciiWord(std::uint64_t word) {
    const std::uint64_t low7 = word & ~kHighBits;
    // Per byte, the high bit says: at least 'A', above 'Z', and the byte itself below 0x80.
    const std::uint64_t atLeastA = low7 + (0x80 - 'A') * kEveryByte;
    const std::uint64_t aboveZ = low7 + (0x7f - 'Z') * kEveryByte;
    const std::uint64_t capital = (atLeastA & ~aboveZ & ~word) & kHighBits;
    // 0x80 moved down two bits is 0x20, the bit that makes a capital small.
    return word | (capital >> 2);
}

// Looks at eight bytes at a time.
bool isAscii(std::string_view text) {
    std::uint64_t seen = 0;
    std::size_t at = 0;
    for (; at + sizeof seen <= text.size(); at += sizeof seen) {
        std::uint64_t word = 0;
        std::memcpy(&word, text.data() + at, sizeof word);
        seen |= word;
    }
    for (; at < text.size(); ++at) {
        seen |= static_cast<unsigned char>(text[at]);
    }
    return (seen & kHighBits) == 0;
}
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
                m_bytes.push_back(matchCase ? byte : static_cast<char>(lowerAscii(byte)));
            }
            // The anchor is a byte that has no case if there is one, else the last letter.
            m_anchor = m_bytes.size() - 1;
            for (std::size_t i = 0; i < m_bytes.size(); ++i) {
                if (m_bytes[i] < 'a' || m_bytes[i] > 'z') {
                    m_anchor = i;
                    break;
                }
            }
            m_anchorSmall = m_bytes[m_anchor];
            m_anchorCapital = m_anchorSmall >= 'a' && m_anchorSmall <= 'z'
                                  ? static_cast<char>(m_anchorSmall - 'a' + 'A')
                                  : m_anchorSmall;
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
    if (m_matchCase) {
        return memmem(line.data(), line.size(), m_bytes.data(), m_bytes.size()) != nullptr;
    }
    return holdsCaseless(line);
}

bool LineSearch::holdsCaseless(std::string_view line) const {
    // Every place that holds the anchor byte, a byte without case, is found by memchr and
    // compared in full; the other bytes are not looked at. A text of letters alone has no such
    // byte: looking for one of its letters in both cases is slower than folding the line.
    if (m_anchorCapital != m_anchorSmall) {
        return holdsFolded(line);
    }
    const std::size_t length = m_bytes.size();
    if (line.size() >= length) {
        const char* const begin = line.data();
        const char* const end = begin + line.size() - (length - 1 - m_anchor);
        for (const char anchor : {m_anchorSmall, m_anchorCapital}) {
            for (const char* from = begin + m_anchor; from < end; ++from) {
                from = static_cast<const char*>(
                    std::memchr(from, anchor, static_cast<std::size_t>(end - from)));
                if (from == nullptr) {
                    break;
                }
                const std::size_t start = static_cast<std::size_t>(from - begin) - m_anchor;
                std::size_t i = 0;
                while (i < length &&
                       lowerAscii(line[start + i]) == static_cast<unsigned char>(m_bytes[i])) {
                    ++i;
                }
                if (i == length) {
                    return true;
                }
            }
            if (m_anchorCapital == m_anchorSmall) {
                break;
            }
        }
    }
    // Not in the bytes: a line with a byte at or above 0x80 may still match as text, where a
    // letter such as the Kelvin sign folds to an ASCII one.
    return !isAscii(line) && matches(textOf(line));
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

bool LineSearch::holdsFolded(std::string_view line) const {
    // The line folded to lower case into a reused buffer, eight bytes at a time, then searched by
    // the C library. A byte at or above 0x80 sends the line to the QString search.
    if (m_folded.size() < line.size() + sizeof(std::uint64_t)) {
        m_folded.resize(line.size() + sizeof(std::uint64_t));
    }
    std::uint64_t seen = 0;
    std::size_t at = 0;
    for (; at + sizeof(std::uint64_t) <= line.size(); at += sizeof(std::uint64_t)) {
        std::uint64_t word = 0;
        std::memcpy(&word, line.data() + at, sizeof word);
        seen |= word;
        word = lowerAsciiWord(word);
        std::memcpy(m_folded.data() + at, &word, sizeof word);
    }
    for (; at < line.size(); ++at) {
        seen |= static_cast<unsigned char>(line[at]);
        m_folded[at] = static_cast<char>(lowerAscii(line[at]));
    }
    if ((seen & kHighBits) != 0) {
        return matches(textOf(line));
    }
    return memmem(m_folded.data(), line.size(), m_bytes.data(), m_bytes.size()) != nullptr;
}
