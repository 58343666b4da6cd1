#include "viewer/live/WindowPlacement.h"

#include <algorithm>

WindowPlacement placeMainWindow(const QSize& wanted, const QSize& minimum, const QRect& available,
                                int frameHeight, int cascadeSteps, int step) {
    const QSize room(std::max(1, available.width()),
                     std::max(1, available.height() - std::max(0, frameHeight)));
    const QSize smallest = minimum.boundedTo(room);
    const QSize size = wanted.boundedTo(room).expandedTo(smallest);
    const int offset = std::max(0, cascadeSteps) * std::max(0, step);
    const int x = available.left() + std::min(offset, room.width() - size.width());
    const int y = available.top() + std::min(offset, room.height() - size.height());
    return {QRect(QPoint(x, y), size), smallest};
}
