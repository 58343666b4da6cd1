#pragma once
#include <QPalette>
#include <QRect>
#include <QTextOption>
#include <QString>

class LineSearch;
class ListTextLayout;
class QPainter;
class QWidget;

// Draws the rows of the log list: a selected row on the selection's colour, the row's text as
// far as the view's right edge with every match of the find bar's search highlighted
// (MatchHighlight), and the focus mark around the current row.
class RowPainter {
  public:
    // Draws with `painter` in the colours of `view`, active ones while it has the focus; tabs
    // as `layout` places them; the matches of `search` (nullptr: none).
    RowPainter(QPainter& painter, const QWidget& view, const ListTextLayout& layout,
               const LineSearch* search);

    // Draws `text` in `row`, the row's place in the viewport, starting at `x`; returns the width
    // of the text drawn.
    int paint(const QString& text, const QRect& row, int x, bool selected, bool current) const;

  private:
    QPainter& m_painter;
    const QWidget& m_view;
    const ListTextLayout& m_layout;
    const LineSearch* m_search;
    QPalette::ColorGroup m_group;
    QTextOption m_option;
};
