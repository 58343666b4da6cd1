#include "viewer/list/ListPlacement.h"

#include <QWidget>
#include <algorithm>

ListPlacement takeFromBottom(ListPlacement& list, int height, int gap) {
    list.height = std::max(0, list.height - height - gap);
    return {list.x, list.y + list.height + gap, list.width, height};
}

void placeUnderList(QWidget& bar, ListPlacement& list, int gap) {
    if (bar.isHidden()) {
        return;
    }
    const ListPlacement place = takeFromBottom(list, bar.sizeHint().height(), gap);
    bar.setGeometry(place.x, place.y, place.width, place.height);
}
