#include "viewer/list/FollowNote.h"

#include "viewer/list/CLogListView.h"

namespace {
constexpr int kNoteMarginPixels = 3;
}  // namespace

FollowNote::FollowNote(CLogListView& list, QWidget* parent) : QLabel(parent), m_list(list) {
    setObjectName(QStringLiteral("followNote"));
    setMargin(kNoteMarginPixels);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::ToolTipBase);
    setForegroundRole(QPalette::ToolTipText);
    connect(&m_list, &CLogListView::followingChanged, this, [this] { refresh(); });
    hide();
}

void FollowNote::takeRoomFrom(ListPlacement& list) {
    placeUnderList(*this, list, kGapAboveNote);
}

void FollowNote::refresh() {
    const bool wasShown = !isHidden();
    if (m_list.isFollowing()) {
        hide();
        if (wasShown) {
            emit shownOrHidden();
        }
        return;
    }
    setText(QStringLiteral("Not following the newest line: %1 follows it again")
                .arg(m_list.newestOnTop() ? QStringLiteral("Ctrl+Home")
                                          : QStringLiteral("Ctrl+End")));
    if (!wasShown) {
        show();
        emit shownOrHidden();
    }
}
