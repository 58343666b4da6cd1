#pragma once
#include <QCheckBox>
#include <QPushButton>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Win32.h"
#include "viewer/files/LogFileWriter.h"
#include "viewer/list/CLogListView.h"
#include "viewer/list/FilterNote.h"
#include "viewer/list/FindBar.h"
#include "viewer/list/FollowNote.h"
#include "viewer/list/ListContextMenu.h"
#include "viewer/list/TimeColumnsItem.h"
#include "viewer/live/FrameDialog.h"
#include "viewer/live/ListPause.h"
#include "viewer/live/MailboxFeed.h"
#include "viewer/live/MailboxWaitNote.h"
#include "viewer/live/PresenceKeeper.h"
#include "viewer/live/WindowNotes.h"
#include "viewer/windows/LineExporter.h"
#include "viewer/windows/SavedLogOpener.h"

class PowerWatcher;
class TerminationSignalWatcher;

// The viewer's one window. Construction opens the trace mailbox (a failure there throws the
// Win32 code, before any window exists), then announces the viewer (presence mutex, registry
// flag) and starts the feed of lines from the mailbox (MailboxFeed); destruction withdraws all
// of it. A failure while the mailbox is waited for ends the dialog with mailboxFailure() set.
// The dialog ends on its Close button, the window manager's close, a suspend or a low battery,
// and SIGINT, SIGTERM or SIGHUP; Enter, Escape and a close requested by code leave it running
// (FrameDialog).
class CQuorvaneDlg : public FrameDialog {
    Q_OBJECT
  public:
    static constexpr int POLL_TIMER_ID = 1313;
    static constexpr int kPollPeriodMs = MailboxFeed::kPollPeriodMs;
    static constexpr int kDrainSliceMs = MailboxFeed::kDrainSliceMs;

    // Asks for the file to save to, proposing `defaultName`; an empty result means cancelled.
    using SavePathChooser = std::function<QString(QWidget* parent, const QString& defaultName)>;
    // Tells the user `text` and returns once it has been seen.
    using MessageBox = std::function<void(QWidget* parent, const QString& text)>;

    explicit CQuorvaneDlg(QWidget* parent = nullptr);
    ~CQuorvaneDlg() override;

    // Moves the check state between m_reverseCheck and m_bReverse: into the member when
    // `saveAndValidate`, into the control otherwise.
    void DoDataExchange(bool saveAndValidate);

    // The poll tick is POLL_TIMER_ID; any other timer goes to QDialog.
    void OnTimer(int timerId);
    void OnReverseClicked();
    void OnClearClicked();
    void OnSaveClicked();
    void layoutLogList();

    void setSavePathChooser(SavePathChooser chooser);
    // The default chooser: Qt's own save dialog, modal over `parent`.
    static QString chooseSavePathWithDialog(QWidget* parent, const QString& defaultName);
    // Shows why a save failed; the only message box of the main window. The default is
    // showWarningBox().
    void setMessageBox(MessageBox show);

    // True while a drain continues across turns of the event loop.
    bool isDraining() const { return m_feed.isDraining(); }
    bool isWaitingForMailbox() const { return m_feed.isWaiting(); }
    // The code that ended the dialog while waiting for the mailbox; ERROR_SUCCESS otherwise.
    DWORD mailboxFailure() const { return m_feed.failure(); }
    const MailboxWaitNote& waitNote() const { return m_waitNote; }
    std::uint32_t lineCount() const { return m_feed.drain().lineCount(); }
    bool reverseLocked() const { return m_bReverseLocked != FALSE; }
    bool reverse() const { return m_bReverse != FALSE; }
    CLogListView& logList() { return m_logList; }
    FindBar& findBar() { return m_findBar; }
    const FilterNote& filterNote() const { return m_filterNote; }
    // The note under the list: the other readers found at start, the last save's report.
    WindowNotes& notes() { return m_notes; }
    const FollowNote& followNote() const { return m_followNote; }
    ListPause& listPause() { return m_pause; }
    SavedLogOpener& savedLogOpener() { return m_savedLogOpener; }
    LineExporter& exporter() { return m_exporter; }
    QCheckBox& reverseCheck() { return m_reverseCheck; }
    QPushButton& clearButton() { return m_clearButton; }
    QPushButton& saveButton() { return m_saveButton; }
    QPushButton& closeButton() { return m_closeButton; }
    const PresenceKeeper& presence() const { return m_presence; }
    bool isWatchingPower() const;

  protected:
    void ending() override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

  private:
    void buildControls();
    void connectSignals();
    void OnInitDialog();
    // Sizes and places the window on its screen, `cascadeSteps` steps off the corner.
    void placeWindow(int cascadeSteps);
    // Names the other readers of the mailbox in the title and the note.
    void tellOtherReaders();

    QCheckBox m_reverseCheck;
    CLogListView m_logList;
    BOOL m_bReverse = TRUE;
    BOOL m_bReverseLocked = TRUE;
    PresenceKeeper m_presence;
    MailboxFeed m_feed;

    QPushButton m_clearButton;
    QPushButton m_closeButton;
    QPushButton m_saveButton;
    MailboxWaitNote m_waitNote;
    FindBar m_findBar;
    FilterNote m_filterNote;
    WindowNotes m_notes;
    FollowNote m_followNote;
    ListPause m_pause;
    TimeColumnsItem m_timeColumns;
    LineExporter m_exporter;
    ListContextMenu m_menu;
    SavePathChooser m_chooseSavePath;
    MessageBox m_showMessage;
    LogFileWriter m_writer;
    std::unique_ptr<PowerWatcher> m_powerWatcher;
    std::unique_ptr<TerminationSignalWatcher> m_signalWatcher;
    SavedLogOpener m_savedLogOpener{*this};
};
