#pragma once
#include <QLabel>
#include <QRect>
#include <string>

// The note laid over the top of the log list while the viewer waits for its mailbox: one
// sentence, wrapped to the list's width. It is hidden otherwise, so the window's layout does not
// change.
class MailboxWaitNote : public QLabel {
    Q_OBJECT
  public:
    explicit MailboxWaitNote(QWidget* parent);

    // Shows the note with `failure`, the sentence that says what opening the mailbox waits for.
    void showWaiting(const std::string& failure);
    // Puts the note along the top edge of `area`, as wide as it and as high as the text needs.
    void placeOver(const QRect& area);
};
