#include "viewer/list/ListTextLayout.h"

#include <cmath>
#include <string_view>

#include "viewer/lines/CLogListModel.h"
#include "viewer/lines/LineText.h"

ListTextLayout::ListTextLayout(const QFont& font) : m_text(font, kDefaultTabStopDistance) {}

void ListTextLayout::setTabStopDistance(qreal pixels, const QFont& font,
                                        const CLogListModel& model) {
    m_tabStopDistance = pixels > 0 ? pixels : kDefaultTabStopDistance;
    m_text = TabbedText(font, m_tabStopDistance);
    m_numbers.remeasure(model, m_text);
}

void ListTextLayout::setFont(const QFont& font, const CLogListModel& model) {
    m_text = TabbedText(font, m_tabStopDistance);
    m_numbers.remeasure(model, m_text);
    m_contentWidth = 0;
}

QTextOption ListTextLayout::drawOption() const {
    QTextOption option(Qt::AlignLeft | Qt::AlignVCenter);
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(m_tabStopDistance);
    m_numbers.applyTo(option);
    return option;
}

int ListTextLayout::lineWidth(const QString& text) const {
    return static_cast<int>(std::ceil(m_text.measure(text, 0).width));
}

QString ListTextLayout::screenText(std::string_view line, int programAt) const {
    QString text = lineText(line);
    if (programAt < 0) {
        return text;
    }
    qsizetype start = 0;
    for (int field = 0; field < programAt; ++field) {
        start = text.indexOf(QLatin1Char('\t'), start);
        if (start < 0) {
            return text;
        }
        ++start;
    }
    const qsizetype end = text.indexOf(QLatin1Char('\t'), start);
    if (end < 0) {
        return text;
    }
    const qreal left = m_text.measure(QStringView(text).left(start), 0).width;
    const qreal room = m_text.gridStopAfter(left) - m_text.columnGap() - left;
    const QStringView program = QStringView(text).mid(start, end - start);
    if (m_text.measure(program, 0).width <= room) {
        return text;
    }
    const QString ellipsis(QChar(0x2026));
    qsizetype kept = program.size();
    QString cut;
    do {
        --kept;
        cut = program.left(kept).toString() + ellipsis;
    } while (kept > 0 && m_text.measure(cut, 0).width > room);
    text.replace(start, end - start, cut);
    return text;
}

bool ListTextLayout::noteWidth(int width) {
    if (width <= m_contentWidth) {
        return false;
    }
    m_contentWidth = width;
    return true;
}

bool ListTextLayout::noteInserted(const CLogListModel& model, std::size_t first, std::size_t last) {
    // Numbers grow by one per line: the newest lines are the first and the last inserted.
    m_numbers.note(model.line(first), m_text);
    m_numbers.note(model.line(last), m_text);
    std::size_t longestRow = first;
    std::size_t longestBytes = 0;
    for (std::size_t row = first; row <= last; ++row) {
        const std::size_t bytes = model.line(row).size();
        if (bytes > longestBytes) {
            longestBytes = bytes;
            longestRow = row;
        }
    }
    const std::string_view longest = model.line(longestRow);
    return noteWidth(lineWidth(screenText(longest, programField(longest))));
}

void ListTextLayout::reset() {
    m_contentWidth = 0;
    m_numbers.reset(m_text);
}
