#include "viewer/list/RowPainter.h"

#include <QPainter>
#include <QString>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QWidget>
#include <cmath>
#include <utility>

#include "viewer/list/ListTextLayout.h"
#include "viewer/list/MatchHighlight.h"

RowPainter::RowPainter(QPainter& painter, const QWidget& view, const ListTextLayout& layout,
                       const LineSearch* search)
    : m_painter(painter),
      m_view(view),
      m_layout(layout),
      m_search(search),
      m_group(view.hasFocus() ? QPalette::Active : QPalette::Inactive),
      m_option(layout.drawOption()) {}

int RowPainter::paint(std::string_view line, const QRect& row, int x, bool selected,
                      bool current) const {
    const QPalette& palette = m_view.palette();
    if (selected) {
        m_painter.fillRect(row, palette.brush(m_group, QPalette::Highlight));
    }
    m_painter.setPen(palette.color(m_group, selected ? QPalette::HighlightedText : QPalette::Text));
    QString text = QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size()));
    // Only what reaches the viewport's right edge is laid out and drawn.
    const TabbedText::Extent extent = m_layout.text().measure(text, row.width() - x);
    const int width = static_cast<int>(std::ceil(extent.width));
    drawRowText(m_painter, m_search, m_layout.text(), std::move(text), extent.needed,
                QRectF(x, row.y(), width + row.width(), row.height()), m_option, selected,
                palette.color(m_group, QPalette::Text));
    if (current) {
        QStyleOptionFocusRect focus;
        focus.initFrom(&m_view);
        focus.rect = row;
        focus.backgroundColor =
            palette.color(m_group, selected ? QPalette::Highlight : QPalette::Base);
        m_view.style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &m_painter, &m_view);
    }
    return width;
}
