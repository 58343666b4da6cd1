#include "viewer/live/CQuorvaneDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <ctime>

#include "resources/Strings.h"
#include "resources/resource.h"
#include "viewer/live/FrameRules.h"
#include "viewer/live/PowerWatcher.h"
#include "viewer/live/TerminationSignalWatcher.h"
#include "viewer/windows/ApplicationIcon.h"
#include "viewer/windows/CAboutDlg.h"
#include "viewer/windows/CSaveAsDialog.h"
#include "viewer/windows/DialogTemplates.h"
#include "viewer/windows/DialogUnits.h"
#include "viewer/windows/WarningBox.h"

namespace {
constexpr Qt::WindowFlags kMainWindowFlags =
    Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
    Qt::WindowCloseButtonHint;

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
    : QDialog(parent, kMainWindowFlags),
      m_reverseCheck(this),
      m_logList(this),
      m_bReverse(TRUE),
      m_hIcon(loadApplicationIcon()),
      m_bReverseLocked(m_bReverse),
      m_clearButton(this),
      m_closeButton(this),
      m_saveButton(this),
      m_waitNote(this),
      m_findBar(m_logList, this),
      m_filterNote(m_logList, this),
      m_pause(m_logList, m_drain, *this),
      m_menu(m_logList, {&m_findBar, &m_pause, &m_savedLogOpener}),
      m_chooseSavePath(&CQuorvaneDlg::chooseSavePathWithDialog),
      m_showMessage(&showWarningBox) {
    const DWORD opened = m_mailbox.open(MailboxConnection::kFirstOpenTimeoutMs);
    if (opened != ERROR_SUCCESS && opened != ERROR_TIMEOUT) {
        throw opened;
    }
    buildControls();
    m_powerWatcher = std::make_unique<PowerWatcher>();
    m_signalWatcher = std::make_unique<TerminationSignalWatcher>();
    connectSignals();
    OnInitDialog();
}

CQuorvaneDlg::~CQuorvaneDlg() {
    m_pollTimer.stop();
    m_nextLook.stop();
    // The mailbox is let go before the registry flag says that no viewer runs, so that whoever
    // reads the flag finds no viewer still holding it.
    m_mailbox.close();
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

    // Template order: the list, then the row of controls with Close before Save.
    setTabOrder(&m_logList, &m_reverseCheck);
    setTabOrder(&m_reverseCheck, &m_clearButton);
    setTabOrder(&m_clearButton, &m_closeButton);
    setTabOrder(&m_closeButton, &m_saveButton);

    resize(units.toPixelsX(kWidth), units.toPixelsY(kHeight));
    move(0, 0);
}

void CQuorvaneDlg::connectSignals() {
    connect(&m_reverseCheck, &QCheckBox::clicked, this, [this] { OnReverseClicked(); });
    connect(&m_clearButton, &QPushButton::clicked, this, [this] { OnClearClicked(); });
    connect(&m_closeButton, &QPushButton::clicked, this, [this] { endDialog(); });
    connect(&m_saveButton, &QPushButton::clicked, this, [this] { OnSaveClicked(); });
    connect(&m_pollTimer, &QTimer::timeout, this, [this] { OnTimer(POLL_TIMER_ID); });
    connect(&m_nextLook, &QTimer::timeout, this, [this] { drainSlice(); });
    connect(m_powerWatcher.get(), &PowerWatcher::powerBroadcast, this,
            [this](std::uintptr_t event) { WindowProc(FrameMessage::kPowerBroadcast, event); });
    connect(m_signalWatcher.get(), &TerminationSignalWatcher::terminationRequested, this,
            [this] { endDialog(); });
    m_findBar.addShortcuts(*this);
    m_pause.addShortcuts(*this);
    connect(&m_findBar, &FindBar::shownOrHidden, this, [this] { layoutLogList(); });
    connect(&m_filterNote, &FilterNote::shownOrHidden, this, [this] { layoutLogList(); });
}

void CQuorvaneDlg::OnInitDialog() {
    DoDataExchange(false);

    // The About item lives in the context menu, built when it is opened.
    m_presence.announce();

    // The icon set holds the small and the big sizes; the window system picks what it shows.
    setWindowIcon(m_hIcon);

    layoutLogList();
    if (!m_mailbox.isOpen()) {
        m_waitNote.showWaiting(m_mailbox.failureText());
    }

    m_pollTimer.setInterval(kPollPeriodMs);
    m_pollTimer.start();
    m_nextLook.setSingleShot(true);
    if (m_mailbox.isOpen()) {
        m_nextLook.start(m_idleLookMs);
    }
}

void CQuorvaneDlg::DoDataExchange(bool saveAndValidate) {
    if (saveAndValidate) {
        m_bReverse = m_reverseCheck.isChecked() ? TRUE : FALSE;
    } else {
        m_reverseCheck.setChecked(m_bReverse != FALSE);
    }
}

void CQuorvaneDlg::OnTimer(int timerId) {
    if (timerId != POLL_TIMER_ID) {
        QTimerEvent event(timerId);
        QDialog::timerEvent(&event);
        return;
    }
    // A drain already under way takes whatever this tick would have taken. A mailbox still
    // waited for is tried again first.
    if (m_draining || m_ended || !openWaitingMailbox()) {
        return;
    }
    m_draining = true;
    drainSlice();
}

bool CQuorvaneDlg::openWaitingMailbox() {
    if (m_mailbox.isOpen()) {
        return true;
    }
    const DWORD opened = m_mailbox.open(MailboxConnection::kRetryOpenTimeoutMs);
    if (opened == ERROR_SUCCESS) {
        m_waitNote.hide();
        return true;
    }
    if (opened == ERROR_TIMEOUT) {
        m_waitNote.showWaiting(m_mailbox.failureText());
    } else {
        m_mailboxFailure = opened;
        endDialog();
    }
    return false;
}

void CQuorvaneDlg::drainSlice() {
    if (m_ended) {
        m_draining = false;
        return;
    }
    const DrainSlice slice = m_drain.drainSlice(m_mailbox.mailbox(), m_logList.model(),
                                                m_bReverse != FALSE, kDrainSliceMs);
    if (slice.taken > 0 && m_reverseCheck.isEnabled()) {
        m_reverseCheck.setEnabled(false);
    }
    if (slice.taken > 0) {
        m_pause.update();
    }
    // Between slices the window repaints and takes input. A slice that met an empty ring ends
    // the drain, and the mailbox is looked at again after a pause.
    m_draining = !slice.ranDry;
    if (m_draining) {
        m_idleLookMs = kFirstIdleLookMs;
        m_nextLook.start(0);
    } else {
        m_idleLookMs = idleLookAfter(slice, m_idleLookMs);
        m_nextLook.start(m_idleLookMs);
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
    m_drain.restartNumbering();
    m_reverseCheck.setEnabled(true);
    m_pause.update();
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
    }
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

void CQuorvaneDlg::OnSysCommand(std::uintptr_t id) {
    if ((id & SysCommand::kMask) == IDM_ABOUTBOX) {
        CAboutDlg about(m_hIcon);
        about.exec();
    }
}

bool CQuorvaneDlg::WindowProc(std::uint32_t message, std::uintptr_t wParam) {
    switch (frameMessageAction(message, wParam)) {
        case FrameAction::EndDialog:
            endDialog();
            return true;
        case FrameAction::Swallow:
            return true;
        case FrameAction::OpenAbout:
            OnSysCommand(wParam);
            return true;
        case FrameAction::Default:
            break;
    }
    // The system's handling of a close command with extra low bits is a close message.
    if (message == FrameMessage::kSysCommand &&
        (wParam & SysCommand::kMask) == SysCommand::kClose) {
        return WindowProc(FrameMessage::kClose, 0);
    }
    return false;
}

void CQuorvaneDlg::layoutLogList() {
    ListPlacement placement = logListPlacement(width(), height(), m_reverseCheck.rect().height());
    m_findBar.takeRoomFrom(placement);
    m_filterNote.takeRoomFrom(placement);
    m_logList.setGeometry(placement.x, placement.y, placement.width, placement.height);
    m_waitNote.placeOver(m_logList.geometry());
    // The pause note leaves the scroll bar, always shown, free.
    m_pause.placeOver(
        m_logList.geometry().adjusted(0, 0, -m_logList.verticalScrollBar()->sizeHint().width(), 0));
    m_logList.viewport()->update();
}

bool CQuorvaneDlg::isWatchingPower() const {
    return m_powerWatcher && m_powerWatcher->isWatching();
}

void CQuorvaneDlg::accept() {}

void CQuorvaneDlg::reject() {}

void CQuorvaneDlg::endDialog() {
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_pollTimer.stop();
    m_nextLook.stop();
    m_draining = false;
    // Nested windows (About box, save dialog, menu) would keep their own loops running.
    while (QWidget* popup = QApplication::activePopupWidget()) {
        if (!popup->close()) {
            break;
        }
    }
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(window);
        if (dialog != nullptr && dialog != this && dialog->isVisible()) {
            dialog->done(QDialog::Rejected);
        }
    }
    QDialog::done(QDialog::Rejected);
}

void CQuorvaneDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Enter:
        case Qt::Key_Return:
            // Only a focused push button answers Enter; nothing is a default button.
            if (auto* button = qobject_cast<QPushButton*>(focusWidget());
                button != nullptr && button->isEnabled() && event->modifiers() == Qt::NoModifier) {
                button->click();
            }
            event->accept();
            return;
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void CQuorvaneDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    // The window manager's close (title-bar button, Alt+F4) arrives as a spontaneous event and
    // is the close command; a close asked for by code is the bare close message.
    if (event->spontaneous()) {
        WindowProc(FrameMessage::kSysCommand, SysCommand::kClose);
    } else {
        WindowProc(FrameMessage::kClose, 0);
    }
}

void CQuorvaneDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (!isMinimized()) {
        layoutLogList();
    }
}

void CQuorvaneDlg::paintEvent(QPaintEvent* event) {
    if (!isMinimized()) {
        QDialog::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const int iconSize = style()->pixelMetric(QStyle::PM_LargeIconSize);
    const IconPosition at = minimizedIconPosition(width(), height(), iconSize, iconSize);
    m_hIcon.paint(&painter, QRect(at.x, at.y, iconSize, iconSize));
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
