#pragma once
#include <QRect>
#include <QSize>

// Where the live window opens, in the screen's logical pixels, kept apart from Qt's windows so
// that the rules can be checked directly.
struct WindowPlacement {
    QRect geometry;
    // The smallest size the window may be given.
    QSize minimum;
};

// The window gets the `wanted` size, but no larger than the `available` area (less
// `frameHeight` for the title bar the desktop adds) and no smaller than `minimum`; `minimum`
// itself is cut to what is available, so a window never opens taller or wider than the screen.
// It opens at the area's top-left corner moved `cascadeSteps` times `step` pixels right and
// down (one step per other viewer already open), staying inside the area.
WindowPlacement placeMainWindow(const QSize& wanted, const QSize& minimum, const QRect& available,
                                int frameHeight, int cascadeSteps, int step);
