#pragma once
#include <QLabel>

#include "viewer/list/ListPlacement.h"

class CLogListView;

// The note under the log list while a filter is on: what the filter keeps or hides, how many
// lines are shown of how many, and a "Show everything" link that turns the filter off. Without
// a filter it is hidden and takes no room.
class FilterNote : public QLabel {
    Q_OBJECT
  public:
    // Pixels between the list and the note.
    static constexpr int kGapAboveNote = 2;

    FilterNote(CLogListView& list, QWidget* parent);

    // While shown, the note takes its height from the bottom of the list's place.
    void takeRoomFrom(ListPlacement& list);

  signals:
    // The note appeared or went: the list's place changes.
    void shownOrHidden();

  private:
    void refresh();

    CLogListView& m_list;
};
