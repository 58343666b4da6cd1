#include "viewer/list/ListPlacement.h"

#include <algorithm>

ListPlacement takeFromBottom(ListPlacement& list, int height, int gap) {
    list.height = std::max(0, list.height - height - gap);
    return {list.x, list.y + list.height + gap, list.width, height};
}
