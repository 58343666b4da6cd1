#include "viewer/list/FilterNote.h"

#include "viewer/list/CLogListView.h"

namespace {
constexpr int kNoteMarginPixels = 3;
const QString kShowEverythingLink = QStringLiteral("everything");
}  // namespace

FilterNote::FilterNote(CLogListView& list, QWidget* parent) : QLabel(parent), m_list(list) {
    setObjectName(QStringLiteral("filterNote"));
    setTextFormat(Qt::RichText);
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::ToolTipBase);
    setForegroundRole(QPalette::ToolTipText);
    setMargin(kNoteMarginPixels);
    connect(this, &QLabel::linkActivated, this, [this] { m_list.shownRows().setFilter({}); });
    connect(&m_list.shownRows(), &ShownRows::rowsChanged, this, [this] { refresh(); });
    connect(&m_list.model(), &QAbstractItemModel::rowsInserted, this, [this] { refresh(); });
    connect(&m_list.model(), &QAbstractItemModel::modelReset, this, [this] { refresh(); });
    hide();
}

void FilterNote::takeRoomFrom(ListPlacement& list) {
    placeUnderList(*this, list, kGapAboveNote);
}

void FilterNote::refresh() {
    const ShownRows& shown = m_list.shownRows();
    const bool wasShown = !isHidden();
    if (!shown.isFiltering()) {
        hide();
        if (wasShown) {
            emit shownOrHidden();
        }
        return;
    }
    const std::size_t all = m_list.model().size();
    setText(QStringLiteral("Filter on (%1): %2 of %3 line%4 shown%5. <a href=\"%6\">Show "
                           "everything</a>")
                .arg(shown.filter().describe().toHtmlEscaped())
                .arg(shown.size())
                .arg(all)
                .arg(all == 1 ? QString() : QStringLiteral("s"))
                .arg(shown.isComplete() ? QString() : QStringLiteral(" so far"))
                .arg(kShowEverythingLink));
    if (!wasShown) {
        show();
        emit shownOrHidden();
    }
}
