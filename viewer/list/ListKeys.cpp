#include "viewer/list/ListKeys.h"

#include <Qt>
#include <algorithm>

std::optional<std::size_t> navigationTarget(int key, std::size_t current, std::size_t rows,
                                            std::size_t page) {
    if (rows == 0) {
        return std::nullopt;
    }
    switch (key) {
        case Qt::Key_Up:
            return current > 0 ? current - 1 : 0;
        case Qt::Key_Down:
            return std::min(current + 1, rows - 1);
        case Qt::Key_PageUp:
            return current > page ? current - page : 0;
        case Qt::Key_PageDown:
            return std::min(current + page, rows - 1);
        case Qt::Key_Home:
            return 0;
        case Qt::Key_End:
            return rows - 1;
        default:
            return std::nullopt;
    }
}
