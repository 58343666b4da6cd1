#pragma once
#include <QString>
#include <vector>

#include "platform/ProcessMark.h"

// What the live window says of the other readers of its mailbox found when it started. Each
// record goes to one reader only, so the window shows only part of them while another runs.

// The note line naming the readers; empty when there are none.
QString otherReadersNote(const std::vector<MarkedProcess>& readers);
// The window title: `caption`, followed by the readers' names when there are any.
QString otherReadersTitle(const QString& caption, const std::vector<MarkedProcess>& readers);
// How many of the readers are viewers (each opens a window of its own).
int otherViewerCount(const std::vector<MarkedProcess>& readers);
