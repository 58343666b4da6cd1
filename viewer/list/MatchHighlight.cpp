#include "viewer/list/MatchHighlight.h"

#include <QPainter>
#include <QTextOption>

#include "viewer/find/LineSearch.h"
#include "viewer/list/TabbedText.h"

std::vector<QRectF> matchRects(const LineSearch& search, const TabbedText& measure,
                               const QString& text, qsizetype drawn, qreal x, const QRect& row) {
    std::vector<QRectF> rects;
    if (!search.isActive()) {
        return rects;
    }
    for (const auto& [start, length] : search.spans(text)) {
        if (start >= drawn) {
            break;
        }
        const qreal left = measure.measure(QStringView(text).left(start), 0).width;
        const qreal right = measure.measure(QStringView(text).left(start + length), 0).width;
        rects.emplace_back(x + left, row.top(), right - left, row.height());
    }
    return rects;
}

void drawRowText(QPainter& painter, const LineSearch* search, const TabbedText& measure,
                 QString text, qsizetype drawn, const QRectF& textRect, const QTextOption& option,
                 bool selected, const QColor& matchText) {
    const std::vector<QRectF> matches =
        search != nullptr
            ? matchRects(*search, measure, text, drawn, textRect.x(), textRect.toAlignedRect())
            : std::vector<QRectF>();
    for (const QRectF& match : matches) {
        painter.fillRect(match, kMatchHighlight);
    }
    text.truncate(drawn);
    painter.drawText(textRect, text, option);
    for (const QRectF& match : selected ? matches : std::vector<QRectF>()) {
        painter.save();
        painter.setClipRect(match);
        painter.setPen(matchText);
        painter.drawText(textRect, text, option);
        painter.restore();
    }
}
