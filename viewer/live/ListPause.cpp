#include "viewer/live/ListPause.h"

#include <QShortcut>

#include "viewer/list/CLogListView.h"
#include "viewer/live/RecordDrain.h"

namespace {
constexpr int kNoteMarginPixels = 4;
constexpr int kGapAboveNote = 2;
const QKeySequence kPauseKey(Qt::CTRL | Qt::Key_P);
}  // namespace

ListPause::ListPause(CLogListView& list, RecordDrain& drain, QWidget& window)
    : QObject(&window), m_list(list), m_drain(drain), m_note(&window) {
    m_note.setObjectName(QStringLiteral("pauseNote"));
    m_note.setAutoFillBackground(true);
    m_note.setBackgroundRole(QPalette::ToolTipBase);
    m_note.setForegroundRole(QPalette::ToolTipText);
    m_note.setMargin(kNoteMarginPixels);
    m_note.hide();
}

bool ListPause::isPaused() const {
    return m_drain.isHolding();
}

void ListPause::pause() {
    m_drain.setHolding(true);
    refreshNote();
}

void ListPause::resume() {
    m_drain.setHolding(false);
    m_list.model().commitStaged();
    refreshNote();
}

void ListPause::toggle() {
    isPaused() ? resume() : pause();
}

std::size_t ListPause::heldBack() const {
    return m_list.model().stagedCount();
}

void ListPause::refreshNote() {
    if (!isPaused()) {
        setNoteShown(false);
        return;
    }
    const std::size_t held = heldBack();
    m_note.setText(QStringLiteral("Paused: %1 new line%2 held back. Resume with Ctrl+P.")
                       .arg(held)
                       .arg(held == 1 ? QString() : QStringLiteral("s")));
    setNoteShown(true);
}

void ListPause::setNoteShown(bool shown) {
    if (shown == !m_note.isHidden()) {
        return;
    }
    m_note.setVisible(shown);
    emit shownOrHidden();
}

void ListPause::addShortcuts(QWidget& window) {
    for (const QKeySequence& key : {kPauseKey, QKeySequence(Qt::Key_Pause)}) {
        auto* shortcut = new QShortcut(key, &window);
        connect(shortcut, &QShortcut::activated, this, [this] { toggle(); });
    }
}

void ListPause::addMenuAction(QMenu& menu) {
    QAction* action =
        menu.addAction(isPaused() ? QStringLiteral("&Resume") : QStringLiteral("&Pause"), this,
                       [this] { toggle(); });
    action->setShortcut(kPauseKey);
}

void ListPause::takeRoomFrom(ListPlacement& list) {
    placeUnderList(m_note, list, kGapAboveNote);
}
