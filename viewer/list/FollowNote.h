#pragma once
#include <QLabel>

#include "viewer/list/ListPlacement.h"

class CLogListView;

// A line under the log list while the list does not follow the newest line: it says so, and
// which key follows it again (Ctrl+Home with the newest line on top, Ctrl+End with it at the
// bottom). While the list follows, the note is hidden and takes no room, so the window is as it
// always was.
class FollowNote : public QLabel {
    Q_OBJECT
  public:
    // Pixels between the list and the note.
    static constexpr int kGapAboveNote = 1;

    FollowNote(CLogListView& list, QWidget* parent);

    // While shown, the note takes its height from the bottom of the list's place.
    void takeRoomFrom(ListPlacement& list);
    // Says again which key follows, after the newest lines changed ends.
    void refresh();

  signals:
    // The note appeared or went: the list's place changes.
    void shownOrHidden();

  private:
    CLogListView& m_list;
};
