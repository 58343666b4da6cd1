#pragma once
#include "viewer/list/ContextMenuItem.h"

class CLogListView;

// "Fold below depth" (0, 1, ... up to kDeepestOffered) and "Unfold everything" in the context
// menu of both windows, while the list holds scopes: every scope at that depth or deeper folds,
// those that open later too, until everything is unfolded.
class FoldMenu : public ContextMenuItem {
  public:
    static constexpr int kDeepestOffered = 9;

    explicit FoldMenu(CLogListView& list) : m_list(list) {}

    void addMenuAction(QMenu& menu) override;

  private:
    CLogListView& m_list;
};
