#include "viewer/list/FoldMarks.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "records/ScopeTimes.h"
#include "viewer/lines/LineText.h"
#include "viewer/lines/LineTimes.h"
#include "viewer/list/TabbedText.h"

namespace {
// The mark's side against the row's height, and the room kept between it and the name.
constexpr qreal kMarkShare = 0.55;
constexpr qreal kMarkGap = 3;
constexpr qreal kSummaryGap = 12;
constexpr std::size_t kFieldsBeforeEntry = 4;
}  // namespace

qsizetype FoldMarks::nameStart(const QString& drawn, std::string_view line) {
    std::size_t from = 0;
    for (std::size_t field = 0; field < kFieldsBeforeEntry; ++field) {
        const std::size_t tab = line.find('\t', from);
        if (tab == std::string_view::npos) return -1;
        from = tab + 1;
    }
    const std::size_t name = std::min(line.find_first_not_of('\t', from), line.size());
    const std::string_view entry = line.substr(name);
    const qsizetype tail = lineText(entry).size();
    return drawn.size() >= tail ? drawn.size() - tail : -1;
}

QString FoldMarks::summary(std::size_t held, const LineTimes* times, std::string_view entryLine) {
    QString text = held == 1 ? QStringLiteral("1 line") : QStringLiteral("%1 lines").arg(held);
    const LineTimes::Note* note =
        times != nullptr ? times->note(leadingLineNumber(entryLine)) : nullptr;
    if (note == nullptr) return text;
    switch (note->scope) {
        case LineTimes::Scope::Closed: {
            char duration[kDurationTextSize];
            const std::size_t length = formatDuration(note->duration, duration);
            text +=
                QStringLiteral(", ") + QString::fromUtf8(duration, static_cast<qsizetype>(length));
            break;
        }
        case LineTimes::Scope::Open:
            text += QStringLiteral(", open");
            break;
        case LineTimes::Scope::Unfinished:
            text += QStringLiteral(", unfinished");
            break;
        case LineTimes::Scope::None:
            break;
    }
    return text;
}

void FoldMarks::draw(QPainter& painter, const TabbedText& measure, const ScopeTree& tree,
                     ScopeTree::Id scope, const Row& row, const LineTimes* times) {
    const qsizetype name = nameStart(*row.drawn, row.line);
    if (name < 0) return;
    const qreal nameX = row.x + measure.measure(QStringView(*row.drawn).left(name), 0).width;
    const qreal side = std::max<qreal>(5, row.rect.height() * kMarkShare);
    const QRectF mark(nameX - kMarkGap - side, row.rect.top() + (row.rect.height() - side) / 2,
                      side, side);
    const bool folded = tree.isFolded(scope);
    QPainterPath triangle;
    if (folded) {
        triangle.moveTo(mark.left() + side * 0.2, mark.top());
        triangle.lineTo(mark.right() - side * 0.1, mark.center().y());
        triangle.lineTo(mark.left() + side * 0.2, mark.bottom());
    } else {
        triangle.moveTo(mark.left(), mark.top() + side * 0.2);
        triangle.lineTo(mark.right(), mark.top() + side * 0.2);
        triangle.lineTo(mark.center().x(), mark.bottom() - side * 0.1);
    }
    triangle.closeSubpath();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = row.colour;
    if (!folded) fill.setAlphaF(0.5);
    painter.fillPath(triangle, fill);
    if (folded) {
        QColor faint = row.colour;
        faint.setAlphaF(0.6);
        painter.setPen(faint);
        painter.drawText(QRectF(row.textEnd + kSummaryGap, row.rect.top(),
                                row.rect.right() - row.textEnd, row.rect.height()),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("\u22ef ") + summary(tree.held(scope), times, row.line));
    }
    painter.restore();
    // A click anywhere across the row's height, a little either side of the mark, hits it.
    m_drawn.emplace_back(
        QRectF(mark.left() - kMarkGap, row.rect.top(), side + 2 * kMarkGap, row.rect.height()),
        scope);
}

QRect FoldMarks::rectOf(ScopeTree::Id scope) const {
    for (const auto& [rect, drawn] : m_drawn) {
        if (drawn == scope) return rect.toAlignedRect();
    }
    return {};
}

ScopeTree::Id FoldMarks::scopeAt(QPoint point) const {
    for (const auto& [rect, scope] : m_drawn) {
        if (rect.contains(point)) return scope;
    }
    return ScopeTree::kNone;
}
