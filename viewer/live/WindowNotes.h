#pragma once
#include <QLabel>
#include <QString>
#include <array>

#include "viewer/list/ListPlacement.h"

// The note under the live window's list that tells what happened beside the lines: the other
// readers of the mailbox found at start, what the last save wrote. Each topic holds one line
// (saying a topic again replaces its line); while any line is said the note takes its own room
// under the list, and its "Dismiss" link clears them all.
class WindowNotes : public QLabel {
    Q_OBJECT
  public:
    enum class Topic { Readers, Save };
    // Pixels between the list and the note.
    static constexpr int kGapAboveNote = 2;

    explicit WindowNotes(QWidget* parent);

    // Sets the line of `topic`; an empty text takes it away.
    void say(Topic topic, const QString& text);
    // The line of `topic` as said; empty when none is.
    const QString& said(Topic topic) const;
    // Takes every line away.
    void dismiss();
    // While shown, the note takes its height from the bottom of the list's place.
    void takeRoomFrom(ListPlacement& list);

  signals:
    // The note appeared or went: the list's place changes.
    void shownOrHidden();

  private:
    void refresh();

    static constexpr std::size_t kTopics = 2;
    std::array<QString, kTopics> m_lines;
};
