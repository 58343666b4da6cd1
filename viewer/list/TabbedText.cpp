#include "viewer/list/TabbedText.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr char16_t kTab = u'\t';

bool printableLatin1(char16_t c) {
    return (c >= 0x20 && c < 0x7F) || (c >= 0xA0 && c <= 0xFF);
}
}  // namespace

TabbedText::TabbedText(const QFont& font, qreal tabStopDistance)
    : m_metrics(font),
      m_tabStopDistance(tabStopDistance),
      m_gap(m_metrics.horizontalAdvance(QLatin1Char(' '))) {
    for (std::size_t c = 0; c < m_advance.size(); ++c) {
        const char16_t code = static_cast<char16_t>(c);
        m_advance[c] = printableLatin1(code) ? m_metrics.horizontalAdvance(QChar(code)) : -1;
    }
}

TabbedText::Extent TabbedText::measure(QStringView text, qreal right) const {
    qreal x = 0;
    qsizetype needed = text.size();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (needed == text.size() && x >= right) {
            needed = std::min(text.size(), i + kSpareCharacters);
        }
        if (c == kTab) {
            x = nextStop(x);
        } else if (c < m_advance.size() && m_advance[c] >= 0) {
            x += m_advance[c];
        } else {
            return measureShaped(text);
        }
    }
    return {x, needed};
}

qreal TabbedText::nextStop(qreal x) const {
    return x + m_gap <= m_firstStop ? m_firstStop : gridStopAfter(x);
}

qreal TabbedText::gridStopAfter(qreal x) const {
    return std::ceil((x + m_gap) / m_tabStopDistance) * m_tabStopDistance;
}

QList<QTextOption::Tab> TabbedText::tabsOf(QStringView text, qsizetype count) const {
    // As measure() does: the table's advances unless some character of the line has none.
    const bool shaped = std::any_of(text.begin(), text.end(), [this](QChar c) {
        return c.unicode() != kTab && (c.unicode() >= m_advance.size() || m_advance[c.unicode()] < 0);
    });
    QList<QTextOption::Tab> tabs;
    const QStringView drawn = text.left(count);
    qreal x = 0;
    qsizetype start = 0;
    while (true) {
        const qsizetype tab = drawn.indexOf(QChar(kTab), start);
        const QStringView piece = drawn.mid(start, (tab < 0 ? drawn.size() : tab) - start);
        if (shaped) {
            x += piece.isEmpty() ? 0 : m_metrics.horizontalAdvance(piece.toString());
        } else {
            for (const QChar c : piece) {
                x += m_advance[c.unicode()];
            }
        }
        if (tab < 0) {
            return tabs;
        }
        x = nextStop(x);
        tabs.append(QTextOption::Tab(x, QTextOption::LeftTab));
        start = tab + 1;
    }
}

TabbedText::Extent TabbedText::measureShaped(QStringView text) const {
    qreal x = 0;
    qsizetype start = 0;
    while (true) {
        const qsizetype tab = text.indexOf(QChar(kTab), start);
        const qsizetype end = tab < 0 ? text.size() : tab;
        if (end > start) {
            x += m_metrics.horizontalAdvance(text.mid(start, end - start).toString());
        }
        if (tab < 0) {
            return {x, text.size()};
        }
        x = nextStop(x);
        start = tab + 1;
    }
}
