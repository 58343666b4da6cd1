#pragma once

class QWidget;

// Where the log list goes in its window, in pixels. What is shown under the list (the find bar,
// the filter note) takes its room from the bottom of this place.
struct ListPlacement {
    int x;
    int y;
    int width;
    int height;
};

// Takes `height` pixels and a gap of `gap` above them from the bottom of `list`, for a bar under
// the list; returns the place of the bar. The list's height never goes below zero.
ListPlacement takeFromBottom(ListPlacement& list, int height, int gap);

// Puts `bar`, while it is shown, under the list: it takes its own height and a gap of `gap` from
// the bottom of `list`. A hidden bar takes no room.
void placeUnderList(QWidget& bar, ListPlacement& list, int gap);
