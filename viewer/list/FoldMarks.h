#pragma once
#include <QColor>
#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QString>
#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "viewer/lines/ScopeTree.h"

class LineTimes;
class QPainter;
class TabbedText;

// The marks of the scopes in sight: a triangle in the indentation just left of each entry's name,
// pointing right while the scope is folded and down while it is open, and after a folded entry's
// line how many lines it holds and how long it took. The marks drawn last are kept, so a click
// finds the scope whose mark it hit, whatever the rows have done since.
class FoldMarks {
  public:
    // Forgets the marks of the last painting.
    void beginPaint() { m_drawn.clear(); }

    struct Row {
        const QString* drawn;   // the row's text as drawn
        std::string_view line;  // its line in the list
        qreal x;                // where the text starts
        qreal textEnd;          // where it ends
        QRect rect;             // the row
        QColor colour;          // of the text
    };
    // Draws the mark of `scope`, whose entry is `row`'s line; `times` (nullptr: none) says how
    // long the scope took.
    void draw(QPainter& painter, const TabbedText& measure, const ScopeTree& tree,
              ScopeTree::Id scope, const Row& row, const LineTimes* times);
    // The scope whose mark, drawn last, holds `point`; kNone when none.
    ScopeTree::Id scopeAt(QPoint point) const;
    // Where `scope`'s mark was drawn last; empty when it was not.
    QRect rectOf(ScopeTree::Id scope) const;

    // Where the entry's name starts in `drawn`, the text shown for `line`: columns may have been
    // added before the program, never after it.
    static qsizetype nameStart(const QString& drawn, std::string_view line);
    // What a folded entry says after its line: "5 lines, 12.4 ms", "1 line, open", "5 lines"
    // when `times` (nullptr: none) knows nothing of the scope `entryLine` opens.
    static QString summary(std::size_t held, const LineTimes* times, std::string_view entryLine);

  private:
    std::vector<std::pair<QRectF, ScopeTree::Id>> m_drawn;
};
