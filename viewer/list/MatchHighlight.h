#pragma once
#include <QColor>
#include <QRect>
#include <QRectF>
#include <QString>
#include <vector>

class LineSearch;
class QPainter;
class QTextOption;
class TabbedText;

// The colour behind text that the find bar's search matches.
inline const QColor kMatchHighlight{255, 214, 0};

// Where the matches of `search` among the first `drawn` characters of `text` lie, for a row
// drawn from `x` in `row`, with the characters placed as `measure` places them.
std::vector<QRectF> matchRects(const LineSearch& search, const TabbedText& measure,
                               const QString& text, qsizetype drawn, qreal x, const QRect& row);

// Draws `text` cut to its first `drawn` characters in `textRect` with `option`. Behind each
// match of an active `search` goes the highlight colour, and on a `selected` row the matched
// characters are drawn again in `matchText`, which reads on that colour.
void drawRowText(QPainter& painter, const LineSearch* search, const TabbedText& measure,
                 QString text, qsizetype drawn, const QRectF& textRect, const QTextOption& option,
                 bool selected, const QColor& matchText);
