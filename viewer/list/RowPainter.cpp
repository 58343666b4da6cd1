#include "viewer/list/RowPainter.h"

#include <QPainter>
#include <QString>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QWidget>
#include <cmath>

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

int RowPainter::paint(const QString& text, const QRect& row, int x, bool selected,
                      bool current) const {
    const QPalette& palette = m_view.palette();
    if (selected) {
        m_painter.fillRect(row, palette.brush(m_group, QPalette::Highlight));
    }
    m_painter.setPen(palette.color(m_group, selected ? QPalette::HighlightedText : QPalette::Text));
    // Only what reaches the viewport's right edge is laid out and drawn.
    const TabbedText::Extent extent = m_layout.text().measure(text, row.width() - x);
    const int width = static_cast<int>(std::ceil(extent.width));
    // Each tab goes where measuring puts it, a space's width at least past the column before.
    QTextOption option = m_option;
    option.setTabs(m_layout.text().tabsOf(text, extent.needed));
    drawRowText(m_painter, m_search, m_layout.text(), text, extent.needed,
                QRectF(x, row.y(), width + row.width(), row.height()), option, selected,
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
