#include "viewer/LineSearch.h"

#include <cstring>

namespace {
QString textOf(std::string_view line) {
    return QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size()));
}

unsigned char lowerAscii(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
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
            m_skip.fill(m_bytes.size());
            for (std::size_t i = 0; i + 1 < m_bytes.size(); ++i) {
                m_skip[static_cast<unsigned char>(m_bytes[i])] = m_bytes.size() - 1 - i;
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
    if (!m_bytes.empty()) {
        if (m_matchCase) {
            return memmem(line.data(), line.size(), m_bytes.data(), m_bytes.size()) != nullptr;
        }
        if (isAscii(line)) {
            return holdsCaseless(line);
        }
    }
    return matches(textOf(line));
}

bool LineSearch::holdsCaseless(std::string_view line) const {
    const std::size_t length = m_bytes.size();
    for (std::size_t at = 0; at + length <= line.size();) {
        std::size_t i = length;
        while (i > 0 &&
               lowerAscii(line[at + i - 1]) == static_cast<unsigned char>(m_bytes[i - 1])) {
            --i;
        }
        if (i == 0) {
            return true;
        }
        at += m_skip[lowerAscii(line[at + length - 1])];
    }
    return false;
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
