#pragma once
#include <QIcon>

// The viewer's icon in every size it ships, from the application's resources; the window system
// picks the size it shows.
QIcon loadApplicationIcon();
