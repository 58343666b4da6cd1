#include "viewer/LineSearch.h"

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

constexpr std::uint64_t kEveryByte = 0x0101010101010101;
constexpr std::uint64_t kHighBits = 0x8080808080808080;

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

// Looks at every byte without branching, which the compiler turns into wide instructions.
bool isAscii(std::string_view text) {
    unsigned char bits = 0;
    for (const char c : text) {
        bits |= static_cast<unsigned char>(c);
    }
    return bits < 0x80;
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
        const QByteArray bytes = pattern.toLatin1();
        if (pattern.size() > 0 && isAscii(std::string_view(bytes.data(), bytes.size()))) {
            for (const char c : bytes) {
                m_bytes.push_back(matchCase ? c : static_cast<char>(lowerAscii(c)));
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
    if (m_matchCase) {
        return memmem(line.data(), line.size(), m_bytes.data(), m_bytes.size()) != nullptr;
    }
    return holdsCaseless(line);
}

bool LineSearch::holdsCaseless(std::string_view line) const {
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
