#include "viewer/LineSearch.h"

#include "viewer/CLogListModel.h"

namespace {
QString textOf(std::string_view line) {
    return QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size()));
}
}  // namespace

bool LineSearch::setPattern(const QString& pattern, bool matchCase, bool regularExpression) {
    m_active = false;
    m_error.clear();
    m_regularExpression = regularExpression;
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
    }
    m_active = !pattern.isEmpty();
    return true;
}

bool LineSearch::matches(std::string_view line) const {
    return m_active && matches(textOf(line));
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

LineSearch::Found LineSearch::find(const CLogListModel& model, std::ptrdiff_t from,
                                   bool forward) const {
    const auto rows = static_cast<std::ptrdiff_t>(model.size());
    if (!m_active || rows == 0) {
        return {};
    }
    const bool fromEdge = from < 0 || from >= rows;
    std::ptrdiff_t row = fromEdge ? (forward ? 0 : rows - 1) : from;
    const std::ptrdiff_t step = forward ? 1 : -1;
    bool wrapped = false;
    // Every row is looked at once; the row searched from is looked at last.
    for (std::ptrdiff_t looked = 0; looked < rows; ++looked) {
        if (!fromEdge || looked > 0) {
            row += step;
            if (row == rows || row < 0) {
                row = forward ? 0 : rows - 1;
                wrapped = true;
            }
        }
        if (matches(model.line(static_cast<std::size_t>(row)))) {
            return {row, wrapped};
        }
    }
    return {};
}
