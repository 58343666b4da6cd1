#pragma once
#include <QLabel>
#include <QMenu>
#include <QObject>
#include <cstddef>

#include "viewer/list/ContextMenuItem.h"
#include "viewer/list/ListPlacement.h"

class CLogListView;
class RecordDrain;

// Pause and Resume of the log list. While paused the drain goes on taking records at its usual
// pace, so no client waits on a paused viewer, but their lines stay staged in the model: the
// list shows what it showed, and a note under the list, which gives up the note's height, counts
// the lines held back.
// Resume shows them all in one insertion. Clear while paused empties the held lines too.
class ListPause : public QObject, public ContextMenuItem {
    Q_OBJECT
  public:
    ListPause(CLogListView& list, RecordDrain& drain, QWidget& window);

    bool isPaused() const;
    void pause();
    void resume();
    void toggle();
    // Lines taken since the pause that the list does not show yet.
    std::size_t heldBack() const;
    // Brings the note up to date after a drain slice or a Clear.
    void refreshNote();

    // Ctrl+P and the Pause key pause and resume anywhere in the window.
    void addShortcuts(QWidget& window);
    // Adds "Pause" or "Resume" to a context menu.
    void addMenuAction(QMenu& menu) override;
    // While shown, the note takes its height from the bottom of the list's place.
    void takeRoomFrom(ListPlacement& list);
    const QLabel& note() const { return m_note; }

  signals:
    // The note appeared or went: the list's place changes.
    void shownOrHidden();

  private:
    void setNoteShown(bool shown);

    CLogListView& m_list;
    RecordDrain& m_drain;
    QLabel m_note;
};
