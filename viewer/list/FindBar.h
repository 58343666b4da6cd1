#pragma once
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QToolButton>
#include <QWidget>

#include "viewer/find/LineSearch.h"
#include "viewer/find/RowIndex.h"
#include "viewer/list/ContextMenuItem.h"
#include "viewer/list/ListPlacement.h"

class CLogListView;

// The find bar under the log list, hidden until asked for. It searches as the user types, goes
// to the next or previous matching line (Enter, F3; with Shift backwards), wrapping with a note,
// has the list highlight every match in sight, and counts the matching lines a slice at a time.
// The line found becomes the list's current and only selected line, so Ctrl+C copies it, even
// from the bar while its text has no selection. Escape in the bar closes it. "Show only" and
// "Hide" make the list show only the lines that match, or hide them.
//
// Matching rows are indexed a slice at a time (RowIndex), among the rows the list shows; next and
// previous are binary searches in that index. Asked before the index is complete, the bar goes
// to the match once it is.
class FindBar : public QWidget, public ContextMenuItem {
    Q_OBJECT
  public:
    // Lines looked at per counting step: a few milliseconds of work between turns of the loop.
    static constexpr std::size_t kCountStepLines = 20000;
    // Pixels between the list and the bar.
    static constexpr int kGapAboveBar = 4;
    // The pattern's edit is never narrower than this many average characters.
    static constexpr int kPatternMinimumChars = 12;

    explicit FindBar(CLogListView& list, QWidget* parent = nullptr);

    // Shows the bar with its text selected and the focus in it.
    void open();
    // Hides the bar, stops highlighting and gives the focus back to the list.
    void close();
    // Open the bar if it is hidden, and go to the next or previous match of its text.
    void findNext();
    void findPrevious();

    // Ctrl+F opens the bar; F3 and Shift+F3 go to the next and previous match anywhere in
    // `window`.
    void addShortcuts(QWidget& window);
    // Adds "Find..." to a context menu.
    void addMenuAction(QMenu& menu) override;
    // While shown, the bar takes its height from the bottom of the list's place.
    void takeRoomFrom(ListPlacement& list);
    // Tab goes from `before` into the bar's controls, left to right.
    void continueTabOrder(QWidget& before);

    QLineEdit& patternEdit() { return m_pattern; }
    QCheckBox& matchCaseBox() { return m_matchCase; }
    QCheckBox& regexBox() { return m_regex; }
    const QLabel& status() const { return m_status; }
    // The status in full; the label shows as much of it as fits, ending in an ellipsis.
    const QString& statusText() const { return m_statusText; }
    const LineSearch& search() const { return m_search; }
    QToolButton& showOnlyButton() { return m_showOnly; }
    QToolButton& hideButton() { return m_hide; }
    bool isCounting() const { return m_countStep.isActive(); }
    std::size_t matchCount() const { return m_matches.count(); }

  signals:
    // The bar appeared or went: the list's place changes.
    void shownOrHidden();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void patternChanged();
    void restartCount();
    void find(bool forward, bool includeCurrent);
    void goToMatch(bool forward, bool includeCurrent);
    void countSome();
    void showStatus();
    void elideStatus();
    // Counts to the end at once, so that a find the count held back has gone to its line.
    void finishPendingFind();
    void addFilterRule(bool show);

    // A next or previous asked for while the index was incomplete.
    struct Pending {
        bool asked = false;
        bool forward = true;
        bool includeCurrent = false;
    };

    CLogListView& m_list;
    LineSearch m_search;
    RowIndex m_matches;
    RowIndex::Test m_test;
    Pending m_pending;
    QLineEdit m_pattern;
    QCheckBox m_matchCase;
    QCheckBox m_regex;
    QToolButton m_showOnly;
    QToolButton m_hide;
    QLabel m_status;
    QToolButton m_closeButton;
    QTimer m_countStep;
    QString m_note;
    QString m_statusText;
};
