#pragma once

class QMenu;

// An item a window puts into its list's context menu: Find..., Pause or Resume, Open Saved
// Log.... The menu knows its items by this alone, so a window can offer items from any room.
class ContextMenuItem {
  public:
    // Adds the item to `menu`, as it reads at this moment.
    virtual void addMenuAction(QMenu& menu) = 0;

  protected:
    ~ContextMenuItem() = default;
};
