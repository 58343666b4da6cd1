#pragma once
#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QString>
#include <cstddef>
#include <string>
#include <string_view>

#include "viewer/find/ShownRows.h"
#include "viewer/lines/CLogListModel.h"
#include "viewer/lines/LineTimes.h"
#include "viewer/list/FoldMarks.h"
#include "viewer/list/ListTextLayout.h"
#include "viewer/list/ShownSelection.h"

class LineSearch;

// The log list: a scrolling view over its own CLogListModel that draws only the rows in sight,
// and of each only what reaches the right edge, so that adding lines costs the same however many
// are shown. Rows have the font's height; tabs advance to stops a fixed distance apart, the
// first past the widest line number (NumberColumn); long lines scroll horizontally.
//
// Selection is extended: a click selects one line, Shift extends from the anchor, Ctrl toggles
// one line (or, with the arrow keys, moves without selecting); a drag held above or below the
// list keeps scrolling. Ctrl+Home and Ctrl+End select the top and the bottom line. Ctrl+C copies
// the selected lines, oldest first, as they are shown. Shift+F10 opens the context menu at the
// current line, as the Menu key does.
//
// While the view is parked at the newest end (the top with the newest line on top, the bottom
// otherwise) it follows the newest line. A click, a selection or a scroll away stops that, so a
// line the user looks at stays where it is; scrolling back to that end, or Ctrl+Home or Ctrl+End
// to it, follows again.
//
// Under a filter (ShownRows) the list shows only the lines that pass it: rows, selection, keys
// and copying are all in shown rows (ShownSelection), while the model keeps every line for Save.
// A new filter clears the selection and, once applied, makes current the first shown line at or
// below the line that was current. How the text is laid out is ListTextLayout's.
//
// A scope's entry line has a mark in its indentation (FoldMarks): a click on it, or Left and
// Right on the current line (FoldKeys), folds and unfolds the scope as in a tree view; Left and
// Right scroll sideways on a line in no scope. A fold keeps its entry where it was on screen
// and makes it the current and only selected line.
class CLogListView : public QAbstractScrollArea {
    Q_OBJECT
  public:
    explicit CLogListView(QWidget* parent = nullptr);
    ~CLogListView() override;

    CLogListModel& model() { return m_model; }
    const CLogListModel& model() const { return m_model; }
    // The rows in sight come from here: every line of the model, or those a filter lets through.
    ShownRows& shownRows() { return m_shown; }
    const ShownRows& shownRows() const { return m_shown; }

    void setTabStopDistance(qreal pixels);
    qreal tabStopDistance() const { return m_layout.tabStopDistance(); }
    int rowHeight() const;
    // Left edge of the text, in pixels from the viewport's edge, when not scrolled.
    int textMargin() const;

    // First row in sight.
    std::size_t topRow() const;
    void scrollToRow(std::size_t row);
    // Width of the widest line measured so far, the horizontal scrolling range derives from it.
    int contentWidth() const { return m_layout.contentWidth(); }
    // Width of `text` drawn with this view's font and tab stops.
    int lineWidth(const QString& text) const { return m_layout.lineWidth(text); }

    // Row under viewport position `y`, or -1 below the last row. Rows are shown rows.
    std::ptrdiff_t rowAt(int y) const;
    bool isSelected(std::size_t row) const { return m_selection.isSelected(row); }
    std::size_t selectedCount() const { return m_selection.selectedCount(); }
    // Current row (the one with the focus mark), or -1.
    std::ptrdiff_t currentRow() const { return m_selection.currentRow(); }
    void selectAll();
    void clearSelection();
    // Selects exactly `row` and makes it current.
    void selectRow(std::size_t row);

    // The selected lines, oldest first, as they are shown (time columns, indentation, one
    // decoding: lineText()), each ended by LF.
    QString copiedText() const;
    // Puts copiedText() on the clipboard.
    void copySelection() const;

    bool isFollowing() const { return m_following; }
    // Scrolls to the newest end and follows it.
    void follow();
    // Which end the newest lines go to while the list holds none (Reverse Output); once it
    // holds lines, they say.
    void setNewestOnTop(bool onTop);
    bool newestOnTop() const;
    // The row a context menu acts on, marked while the menu is open; -1 for none.
    void setMenuRow(std::ptrdiff_t row);
    std::ptrdiff_t menuRow() const { return m_menuRow; }
    // Where shown row `row` is in the viewport (empty when out of sight).
    QRect rowRect(std::size_t row) const;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    // Highlights what `search` matches in the rows in sight; nullptr highlights nothing.
    void setSearch(const LineSearch* search);

    // Folds `scope` when it is open, unfolds it when folded.
    void toggleFold(ScopeTree::Id scope);
    // Where `scope`'s mark was drawn last, in the viewport; empty when it was not.
    QRect foldMarkRect(ScopeTree::Id scope) const { return m_foldMarks.rectOf(scope); }

    // What the records said of time beyond the lines (the live window's; nullptr: nothing), and
    // which of it the rows show. Lines, copies and saves never change with either.
    void setLineTimes(const LineTimes* times);
    void setTimeColumns(const TimeColumns& columns);
    const TimeColumns& timeColumns() const { return m_timeColumns; }
    // Shown row `row` as it is drawn: its line with the time columns chosen.
    std::string shownText(std::size_t row) const;

  signals:
    // The list began or stopped following the newest line.
    void followingChanged(bool following);

  protected:
    void timerEvent(QTimerEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private slots:
    void onRowsInserted(const QModelIndex& parent, int first, int last);
    void onModelReset();
    void onFilterAboutToChange();
    void onFoldAboutToChange(ScopeTree::Id scope);
    void onShownRowsChanged();

  private:
    int rowsInSight() const;
    bool atNewestEnd() const;
    void scrollToNewestEnd();
    void setFollowing(bool following);
    // A scroll bar action of the user's: follows when it ends at the newest end, else stops.
    void onUserScrolled();
    // The drag selects up to the row at viewport height `y`, kept inside the rows in sight.
    void dragSelectTo(int y, Qt::KeyboardModifiers modifiers);
    // The field of the program in the rows drawn, or -1 in a row of another shape.
    int shownProgramField(std::string_view line) const;
    void updateScrollBars();
    void ensureRowVisible(std::size_t row);
    void moveCurrentTo(std::size_t row, Qt::KeyboardModifiers modifiers);
    // Left or Right on the current line; false when it is in no scope.
    bool foldByKey(bool right);
    // Draws the mark of the scope shown row `row` opens, if any; `drawn` is its text as drawn.
    void drawFoldMark(QPainter& painter, std::size_t row, const QString& text, const QRect& rect,
                      int x, int width);

    CLogListModel m_model;
    ShownRows m_shown;
    ShownSelection m_selection;
    // Shown rows on top when the list last heard of them, to keep the user's lines in sight.
    std::size_t m_lastTopCount = 0;
    ListTextLayout m_layout;
    const LineSearch* m_search = nullptr;
    const LineTimes* m_times = nullptr;
    TimeColumns m_timeColumns;
    std::string m_decorated;  // reused for each row drawn
    FoldMarks m_foldMarks;
    // While a fold's rows are worked out, its entry stays this many rows below the top.
    bool m_anchored = false;
    ScopeTree::Place m_anchor;
    std::ptrdiff_t m_anchorOffset = 0;
    // A list begins not following: a saved log opens at its top. The live window follows.
    bool m_following = false;
    bool m_newestOnTopHint = true;
    std::ptrdiff_t m_menuRow = -1;
    // Rows in sight at the last resize, to keep the current row in sight through the next.
    int m_lastRowsInSight = 0;
    // While a drag is held above or below the list, it scrolls a row each tick.
    QBasicTimer m_dragScroll;
    int m_dragY = 0;
    Qt::KeyboardModifiers m_dragModifiers;
};
