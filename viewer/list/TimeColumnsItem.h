#pragma once
#include "viewer/lines/LineTimes.h"
#include "viewer/list/ContextMenuItem.h"

class CLogListView;

// "Precise Time" (off, milliseconds or microseconds) and "Durations" in the live window's context
// menu: what the list shows of the records' time beyond their lines. The choice is kept under
// the user's registry key and read back when the next window starts.
class TimeColumnsItem : public ContextMenuItem {
  public:
    // Gives `list` the columns last chosen.
    explicit TimeColumnsItem(CLogListView& list);

    void addMenuAction(QMenu& menu) override;

    static TimeColumns load();
    static void save(const TimeColumns& columns);

  private:
    void choose(const TimeColumns& columns);

    CLogListView& m_list;
};
