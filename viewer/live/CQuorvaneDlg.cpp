#include "viewer/live/CQuorvaneDlg.h"

#include <QContextMenuEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <ctime>

#include "resources/Strings.h"
#include "resources/resource.h"
#include "viewer/live/FrameRules.h"
#include "viewer/live/OtherReaders.h"
#include "viewer/live/PowerWatcher.h"
#include "viewer/live/TerminationSignalWatcher.h"
#include "viewer/live/WindowPlacement.h"
#include "viewer/windows/CSaveAsDialog.h"
#include "viewer/windows/DialogTemplates.h"
#include "viewer/windows/DialogUnits.h"
#include "viewer/windows/WarningBox.h"

namespace {
// The window's smallest size keeps the row of buttons whole, with the template's margin right of
// Close, and a few lines of the list (in dialog units).
constexpr int kMinimumRightMarginDu = 7;
constexpr int kMinimumListHeightDu = 40;
// How far a window opens from the one opened before it while other viewers run.
constexpr int kCascadeStepDu = 14;

void setUpPushButton(QPushButton& button, const ControlTemplate& controlTemplate, const char* text,
                     const DialogUnits& units) {
    placeControl(button, controlTemplate, units);
    button.setText(QString::fromLatin1(text));
    // No button is a default button: Enter must not click any of them.
    button.setAutoDefault(false);
    button.setDefault(false);
}
}  // namespace

CQuorvaneDlg::CQuorvaneDlg(QWidget* parent)
    : FrameDialog(parent),
      m_reverseCheck(this),
      m_logList(this),
      m_bReverse(TRUE),
      m_bReverseLocked(m_bReverse),
      m_feed(
          m_logList.model(), [this] { return m_bReverse != FALSE; }, m_waitNote),
      m_clearButton(this),
      m_closeButton(this),
      m_saveButton(this),
      m_waitNote(this),
      m_findBar(m_logList, this),
      m_filterNote(m_logList, this),
      m_notes(this),
      m_followNote(m_logList, this),
      m_pause(m_logList, m_feed.drain(), *this),
      m_timeColumns(m_logList),
      m_exporter(*this, m_logList.model(), m_feed.drain().lineTimes()),
      m_menu(m_logList, {&m_findBar, &m_pause, &m_savedLogOpener, &m_exporter, &m_timeColumns}),
      m_chooseSavePath(&CQuorvaneDlg::chooseSavePathWithDialog),
      m_showMessage(&showWarningBox) {
    const DWORD opened = m_feed.open();
    if (opened != ERROR_SUCCESS && opened != ERROR_TIMEOUT) {
        throw opened;
    }
    m_logList.setLineTimes(&m_feed.drain().lineTimes());
    buildControls();
    m_powerWatcher = std::make_unique<PowerWatcher>();
    m_signalWatcher = std::make_unique<TerminationSignalWatcher>();
    connectSignals();
    OnInitDialog();
}

CQuorvaneDlg::~CQuorvaneDlg() {
    m_feed.stop();
    // The mailbox is let go before the registry flag says that no viewer runs, so that whoever
    // reads the flag finds no viewer still holding it.
    m_feed.closeMailbox();
    m_presence.withdraw();
}

void CQuorvaneDlg::buildControls() {
    using namespace MainDialogTemplate;
    setObjectName(QStringLiteral("IDD_QUORVANE_DIALOG"));
    setProperty(kControlIdProperty, IDD_QUORVANE_DIALOG);
    setWindowTitle(QString::fromLatin1(QuorvaneStrings::kMainCaption));
    const DialogUnits units = DialogUnits::fromFont(font());

    placeControl(m_logList, kLogList, units);
    m_logList.setTabStopDistance(units.toPixelsX(kTabStop));
    placeControl(m_reverseCheck, kReverse, units);
    m_reverseCheck.setText(QString::fromLatin1(QuorvaneStrings::kReverseOutput));
    setUpPushButton(m_clearButton, kClear, QuorvaneStrings::kClear, units);
    setUpPushButton(m_closeButton, kClose, QuorvaneStrings::kClose, units);
    setUpPushButton(m_saveButton, kSave, QuorvaneStrings::kSave, units);

    // Tab goes in screen order: the row of controls left to right, the list under it, then the
    // find bar's controls.
    setTabOrder(&m_reverseCheck, &m_clearButton);
    setTabOrder(&m_clearButton, &m_saveButton);
    setTabOrder(&m_saveButton, &m_closeButton);
    setTabOrder(&m_closeButton, &m_logList);
    m_findBar.continueTabOrder(m_logList);

    placeWindow(0);
}

void CQuorvaneDlg::placeWindow(int cascadeSteps) {
    using namespace MainDialogTemplate;
    const DialogUnits units = DialogUnits::fromFont(font());
    const QSize wanted(units.toPixelsX(kWidth), units.toPixelsY(kHeight));
    const QSize minimum(units.toPixelsX(kClose.x + kClose.width + kMinimumRightMarginDu),
                        units.toPixelsY(kLogList.y + kMinimumListHeightDu));
    const QScreen* where = screen();
    const QRect available =
        where != nullptr ? where->availableGeometry() : QRect(QPoint(0, 0), wanted);
    const WindowPlacement placement =
        placeMainWindow(wanted, minimum, available, style()->pixelMetric(QStyle::PM_TitleBarHeight),
                        cascadeSteps, units.toPixelsY(kCascadeStepDu));
    setMinimumSize(placement.minimum);
    resize(placement.geometry.size());
    move(placement.geometry.topLeft());
}

void CQuorvaneDlg::tellOtherReaders() {
    const std::vector<MarkedProcess>& others = m_presence.otherReaders();
    setWindowTitle(otherReadersTitle(QString::fromLatin1(QuorvaneStrings::kMainCaption), others));
    m_notes.say(WindowNotes::Topic::Readers, otherReadersNote(others));
    if (const int viewers = otherViewerCount(others); viewers > 0) {
        placeWindow(viewers);
    }
}

void CQuorvaneDlg::connectSignals() {
    connect(&m_reverseCheck, &QCheckBox::clicked, this, [this] { OnReverseClicked(); });
    connect(&m_clearButton, &QPushButton::clicked, this, [this] { OnClearClicked(); });
    connect(&m_closeButton, &QPushButton::clicked, this, [this] { endDialog(); });
    connect(&m_saveButton, &QPushButton::clicked, this, [this] { OnSaveClicked(); });
    connect(&m_feed, &MailboxFeed::linesTaken, this, [this] {
        if (m_reverseCheck.isEnabled()) {
            m_reverseCheck.setEnabled(false);
        }
        m_pause.refreshNote();
    });
    connect(&m_feed, &MailboxFeed::failed, this, [this] { endDialog(); });
    connect(m_powerWatcher.get(), &PowerWatcher::powerBroadcast, this,
            [this](std::uintptr_t event) { WindowProc(FrameMessage::kPowerBroadcast, event); });
    connect(m_signalWatcher.get(), &TerminationSignalWatcher::terminationRequested, this,
            [this] { endDialog(); });
    m_findBar.addShortcuts(*this);
    m_pause.addShortcuts(*this);
    connect(&m_findBar, &FindBar::shownOrHidden, this, [this] { layoutLogList(); });
    connect(&m_filterNote, &FilterNote::shownOrHidden, this, [this] { layoutLogList(); });
    connect(&m_notes, &WindowNotes::shownOrHidden, this, [this] { layoutLogList(); });
    connect(&m_pause, &ListPause::shownOrHidden, this, [this] { layoutLogList(); });
    connect(&m_followNote, &FollowNote::shownOrHidden, this, [this] { layoutLogList(); });
}

void CQuorvaneDlg::OnInitDialog() {
    DoDataExchange(false);

    // The About item lives in the context menu, built when it is opened.
    m_presence.announce();
    tellOtherReaders();

    // The icon set holds the small and the big sizes; the window system picks what it shows.
    setWindowIcon(icon());

    layoutLogList();
    m_logList.follow();
    m_logList.setFocus(Qt::OtherFocusReason);
    m_feed.start();
}

void CQuorvaneDlg::DoDataExchange(bool saveAndValidate) {
    if (saveAndValidate) {
        m_bReverse = m_reverseCheck.isChecked() ? TRUE : FALSE;
    } else {
        m_reverseCheck.setChecked(m_bReverse != FALSE);
    }
    // The newest lines' end, which the list follows, goes with Reverse Output.
    m_logList.setNewestOnTop(m_bReverse != FALSE);
    m_followNote.refresh();
}

void CQuorvaneDlg::OnTimer(int timerId) {
    if (timerId != POLL_TIMER_ID) {
        QTimerEvent event(timerId);
        QDialog::timerEvent(&event);
        return;
    }
    m_feed.pollTick();
    // Scopes whose thread has ended meanwhile now show that they never finished.
    if (m_feed.drain().abandonEndedSenders() > 0) {
        m_logList.viewport()->update();
    }
}

void CQuorvaneDlg::OnReverseClicked() {
    DoDataExchange(true);
    if (lineCount() > 0) {
        m_reverseCheck.setEnabled(false);
        m_bReverse = m_bReverseLocked;
        DoDataExchange(false);
    } else {
        m_bReverseLocked = m_bReverse;
        DoDataExchange(false);
    }
}

void CQuorvaneDlg::OnClearClicked() {
    m_logList.model().clear();
    m_logList.follow();
    m_feed.drain().restartNumbering();
    m_reverseCheck.setEnabled(true);
    m_pause.refreshNote();
}

void CQuorvaneDlg::OnSaveClicked() {
    if (lineCount() == 0) {
        return;
    }
    const std::string defaultName = defaultSaveFileName(std::time(nullptr));
    const QString path = m_chooseSavePath(
        this,
        QString::fromLocal8Bit(defaultName.data(), static_cast<qsizetype>(defaultName.size())));
    if (path.isEmpty()) {
        return;
    }
    // Lines that arrived while the save dialog was open are saved too.
    const SaveResult saved =
        m_writer.write(path, m_logList.model(), lineCount(), m_bReverseLocked != FALSE);
    if (!saved) {
        m_showMessage(this, saveFailureText(path, saved));
        return;
    }
    const ShownRows& shown = m_logList.shownRows();
    const std::size_t all = m_logList.model().size();
    const std::size_t hidden = shown.isNarrowed() && all > shown.size() ? all - shown.size() : 0;
    const QString hiddenBy =
        !shown.isFiltering()
            ? QStringLiteral("inside folded scopes")
            : (shown.scopes().anyFolded() ? QStringLiteral("hidden by the filter or folded scopes")
                                          : QStringLiteral("hidden by the filter"));
    m_notes.say(WindowNotes::Topic::Save,
                saveReportText(path, saved.lines, m_pause.heldBack(), hidden, hiddenBy));
}

void CQuorvaneDlg::setSavePathChooser(SavePathChooser chooser) {
    m_chooseSavePath = chooser ? std::move(chooser) : &CQuorvaneDlg::chooseSavePathWithDialog;
}

QString CQuorvaneDlg::chooseSavePathWithDialog(QWidget* parent, const QString& defaultName) {
    CSaveAsDialog dialog(parent, defaultName);
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

void CQuorvaneDlg::setMessageBox(MessageBox show) {
    m_showMessage = show ? std::move(show) : &showWarningBox;
}

void CQuorvaneDlg::layoutLogList() {
    ListPlacement placement = logListPlacement(width(), height(), m_reverseCheck.rect().height());
    // Under the list, top to bottom: the window's notes (other readers, the last save), the pause
    // note, whether it follows, the filter note and the find bar; each shown one takes its own
    // height.
    m_findBar.takeRoomFrom(placement);
    m_filterNote.takeRoomFrom(placement);
    m_followNote.takeRoomFrom(placement);
    m_pause.takeRoomFrom(placement);
    m_notes.takeRoomFrom(placement);
    m_logList.setGeometry(placement.x, placement.y, placement.width, placement.height);
    m_waitNote.placeOver(m_logList.geometry());
    m_logList.viewport()->update();
}

bool CQuorvaneDlg::isWatchingPower() const {
    return m_powerWatcher && m_powerWatcher->isWatching();
}

void CQuorvaneDlg::ending() {
    m_feed.stop();
}

void CQuorvaneDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (!isMinimized()) {
        layoutLogList();
    }
}

void CQuorvaneDlg::contextMenuEvent(QContextMenuEvent* event) {
    const char* text = QuorvaneStrings::loadString(IDS_ABOUTBOX);
    if (text == nullptr || *text == '\0') {
        return;
    }
    if (m_menu.exec(*this, *event, QString::fromLatin1(text))) {
        WindowProc(FrameMessage::kSysCommand, IDM_ABOUTBOX);
    }
}

void CQuorvaneDlg::timerEvent(QTimerEvent* event) {
    OnTimer(event->timerId());
}
