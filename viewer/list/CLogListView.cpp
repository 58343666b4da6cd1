#include "viewer/list/CLogListView.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <optional>

#include "viewer/lines/LineText.h"
#include "viewer/list/FoldKeys.h"
#include "viewer/list/ListKeys.h"
#include "viewer/list/RowPainter.h"

namespace {
constexpr int kTextMargin = 2;
// How often a drag held outside the list scrolls it, and how many pixels away add a row a tick.
constexpr int kDragScrollMs = 40;
constexpr int kDragPixelsPerRow = 16;
}  // namespace

CLogListView::CLogListView(QWidget* parent)
    : QAbstractScrollArea(parent),
      m_model(this),
      m_shown(m_model, this),
      m_selection(m_model, m_shown),
      m_layout(font()) {
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, &CLogListView::onRowsInserted);
    connect(&m_model, &QAbstractItemModel::modelReset, this, &CLogListView::onModelReset);
    connect(&m_shown, &ShownRows::filterAboutToChange, this, &CLogListView::onFilterAboutToChange);
    connect(&m_shown, &ShownRows::foldAboutToChange, this, &CLogListView::onFoldAboutToChange);
    connect(&m_shown, &ShownRows::rowsChanged, this, &CLogListView::onShownRowsChanged);
    // Every scroll the user makes (wheel, bar, its keys) is an action; the list's own are not.
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this] { onUserScrolled(); });
    updateScrollBars();
}

CLogListView::~CLogListView() = default;

void CLogListView::setTabStopDistance(qreal pixels) {
    m_layout.setTabStopDistance(pixels, font(), m_model);
    viewport()->update();
}

int CLogListView::rowHeight() const {
    return std::max(1, fontMetrics().height());
}

int CLogListView::textMargin() const {
    return kTextMargin;
}

std::size_t CLogListView::topRow() const {
    return static_cast<std::size_t>(std::max(0, verticalScrollBar()->value()));
}

void CLogListView::scrollToRow(std::size_t row) {
    verticalScrollBar()->setValue(static_cast<int>(row));
}

std::ptrdiff_t CLogListView::rowAt(int y) const {
    if (y < 0) {
        return -1;
    }
    const std::size_t row = topRow() + static_cast<std::size_t>(y / rowHeight());
    return row < m_shown.size() ? static_cast<std::ptrdiff_t>(row) : -1;
}

void CLogListView::selectAll() {
    m_selection.selectAll();
    viewport()->update();
}

void CLogListView::clearSelection() {
    m_selection.clear();
    viewport()->update();
}

void CLogListView::selectRow(std::size_t row) {
    if (row >= m_shown.size()) {
        return;
    }
    moveCurrentTo(row, Qt::NoModifier);
}

QString CLogListView::copiedText() const {
    QString text;
    m_selection.forEachRowOldestFirst([&](std::size_t row) {
        text += lineText(shownText(row));
        text += QLatin1Char('\n');
    });
    return text;
}

void CLogListView::copySelection() const {
    if (m_selection.empty()) {
        return;
    }
    QApplication::clipboard()->setText(copiedText());
}

void CLogListView::follow() {
    setFollowing(true);
    scrollToNewestEnd();
}

void CLogListView::setNewestOnTop(bool onTop) {
    m_newestOnTopHint = onTop;
}

bool CLogListView::newestOnTop() const {
    if (m_model.topCount() > 0) {
        return true;
    }
    return m_model.size() > 0 ? false : m_newestOnTopHint;
}

void CLogListView::setMenuRow(std::ptrdiff_t row) {
    m_menuRow = row;
    viewport()->update();
}

QRect CLogListView::rowRect(std::size_t row) const {
    const std::size_t top = topRow();
    if (row < top || row >= top + static_cast<std::size_t>(rowsInSight())) {
        return {};
    }
    return {0, static_cast<int>(row - top) * rowHeight(), viewport()->width(), rowHeight()};
}

QVariant CLogListView::inputMethodQuery(Qt::InputMethodQuery query) const {
    // The Menu key opens the context menu where this says the cursor is: on the current line.
    if (query == Qt::ImCursorRectangle && currentRow() >= 0) {
        if (const QRect rect = rowRect(static_cast<std::size_t>(currentRow())); !rect.isEmpty()) {
            return QRect(viewport()->mapTo(this, rect.topLeft()), rect.size());
        }
    }
    return QAbstractScrollArea::inputMethodQuery(query);
}

void CLogListView::setSearch(const LineSearch* search) {
    m_search = search;
    viewport()->update();
}

void CLogListView::setLineTimes(const LineTimes* times) {
    m_times = times;
    viewport()->update();
}

void CLogListView::setTimeColumns(const TimeColumns& columns) {
    m_timeColumns = columns;
    viewport()->update();
}

std::string CLogListView::shownText(std::size_t row) const {
    std::string text;
    if (m_times != nullptr && m_timeColumns.any()) {
        decorateLine(m_shown.line(row), *m_times, m_timeColumns, text);
    } else {
        text.assign(m_shown.line(row));
    }
    return text;
}

void CLogListView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const RowPainter rowPainter(painter, *this, m_layout, m_search);
    const int height = rowHeight();
    const int x = kTextMargin - horizontalScrollBar()->value();
    const std::size_t rows = m_shown.size();
    const std::ptrdiff_t current = hasFocus() ? currentRow() : -1;
    int widest = 0;
    int y = 0;
    m_foldMarks.beginPaint();
    for (std::size_t row = topRow(); row < rows && y < viewport()->height(); ++row, y += height) {
        std::string_view line = m_shown.line(row);
        const int program = shownProgramField(line);
        if (m_times != nullptr && m_timeColumns.any()) {
            decorateLine(line, *m_times, m_timeColumns, m_decorated);
            line = m_decorated;
        }
        const QString text = m_layout.screenText(line, program);
        const QRect rect(0, y, viewport()->width(), height);
        const int width = rowPainter.paint(text, rect, x, isSelected(row),
                                           static_cast<std::ptrdiff_t>(row) == current);
        widest = std::max(widest, width);
        drawFoldMark(painter, row, text, rect, x, width);
        if (static_cast<std::ptrdiff_t>(row) == m_menuRow) {
            painter.save();
            painter.setPen(QPen(palette().color(QPalette::Active, QPalette::Highlight), 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(rect.adjusted(1, 1, -1, -1));
            painter.restore();
        }
    }
    if (m_layout.noteWidth(widest)) {
        updateScrollBars();
    }
}

void CLogListView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    const std::ptrdiff_t current = currentRow();
    const std::size_t top = topRow();
    const bool currentWasInSight = current >= 0 && static_cast<std::size_t>(current) >= top &&
                                   static_cast<std::size_t>(current) <
                                       top + static_cast<std::size_t>(m_lastRowsInSight);
    updateScrollBars();
    // A note or a bar that takes room under the list hides neither the newest line nor the
    // current one.
    if (m_following) {
        scrollToNewestEnd();
    } else if (currentWasInSight) {
        ensureRowVisible(static_cast<std::size_t>(current));
    }
    m_lastRowsInSight = rowsInSight();
}

void CLogListView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        if (rowAt(event->position().toPoint().y()) >= 0) {
            setFollowing(false);
        }
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    if (const ScopeTree::Id scope = m_foldMarks.scopeAt(event->position().toPoint());
        scope != ScopeTree::kNone) {
        toggleFold(scope);
        return;
    }
    const std::ptrdiff_t row = rowAt(event->position().toPoint().y());
    if (row < 0) {
        return;
    }
    setFollowing(false);
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    m_selection.click(static_cast<std::size_t>(row), modifiers & Qt::ShiftModifier,
                      modifiers & Qt::ControlModifier);
    viewport()->update();
}

void CLogListView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || !m_selection.hasCurrent()) {
        m_dragScroll.stop();
        return;
    }
    m_dragY = event->position().toPoint().y();
    m_dragModifiers = event->modifiers();
    // Held above or below the list, the drag goes on scrolling until it comes back or ends.
    if (m_dragY < 0 || m_dragY >= viewport()->height()) {
        if (!m_dragScroll.isActive()) {
            m_dragScroll.start(kDragScrollMs, this);
        }
    } else {
        m_dragScroll.stop();
    }
    dragSelectTo(m_dragY, m_dragModifiers);
}

void CLogListView::dragSelectTo(int y, Qt::KeyboardModifiers modifiers) {
    const std::ptrdiff_t row = rowAt(std::clamp(y, 0, viewport()->height() - 1));
    if (row < 0) {
        return;
    }
    if (!m_selection.dragTo(static_cast<std::size_t>(row), modifiers & Qt::ControlModifier)) {
        return;
    }
    ensureRowVisible(static_cast<std::size_t>(row));
    viewport()->update();
}

void CLogListView::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_dragScroll.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    const int height = viewport()->height();
    const int beyond = m_dragY < 0 ? -m_dragY : m_dragY - height + 1;
    const int rows = 1 + std::max(0, beyond) / kDragPixelsPerRow;
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->value() + (m_dragY < 0 ? -rows : rows));
    setFollowing(false);
    dragSelectTo(m_dragY < 0 ? 0 : height - 1, m_dragModifiers);
}

void CLogListView::mouseReleaseEvent(QMouseEvent* event) {
    m_dragScroll.stop();
    event->setAccepted(event->button() == Qt::LeftButton);
}

void CLogListView::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        copySelection();
        return;
    }
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        // As the Menu key: the menu of the current line (or of the list), at that line.
        const QRect rect = inputMethodQuery(Qt::ImCursorRectangle).toRect();
        const QPoint at = rect.center();
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, at, mapToGlobal(at));
        QApplication::sendEvent(this, &menu);
        return;
    }
    if (event == QKeySequence::SelectAll) {
        setFollowing(false);
        selectAll();
        return;
    }
    const std::size_t rows = m_shown.size();
    if (rows == 0) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const bool end = event->key() == Qt::Key_End;
    if (event->modifiers() == Qt::ControlModifier && (end || event->key() == Qt::Key_Home)) {
        // Ctrl+Home selects the top line, Ctrl+End the bottom one; the newest end is followed.
        selectRow(end ? rows - 1 : 0);
        if (end != newestOnTop()) {
            follow();
        }
        return;
    }
    const std::size_t current = currentRow() >= 0 ? static_cast<std::size_t>(currentRow()) : 0;
    if (event->key() == Qt::Key_Space && (event->modifiers() & Qt::ControlModifier)) {
        setFollowing(false);
        m_selection.toggleAt(current);
        viewport()->update();
        return;
    }
    const bool sideways = event->key() == Qt::Key_Left || event->key() == Qt::Key_Right;
    if (sideways && event->modifiers() == Qt::NoModifier &&
        foldByKey(event->key() == Qt::Key_Right)) {
        return;
    }
    const std::size_t page = static_cast<std::size_t>(std::max(1, rowsInSight() - 1));
    const std::optional<std::size_t> target = navigationTarget(event->key(), current, rows, page);
    if (!target) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    moveCurrentTo(*target, event->modifiers());
}

void CLogListView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_layout.setFont(font(), m_model);
        updateScrollBars();
        viewport()->update();
    }
}

void CLogListView::scrollContentsBy(int, int) {
    viewport()->update();
}

void CLogListView::onRowsInserted(const QModelIndex&, int first, int last) {
    const std::size_t topCount = m_shown.topCount();
    const std::size_t addedOnTop = topCount - m_lastTopCount;
    m_lastTopCount = topCount;
    if (m_layout.noteInserted(m_model, static_cast<std::size_t>(first),
                              static_cast<std::size_t>(last))) {
        updateScrollBars();
    }

    const int oldTop = verticalScrollBar()->value();
    updateScrollBars();
    if (m_following) {
        scrollToNewestEnd();
    } else if (addedOnTop > 0) {
        // Lines put on top while the user looks at others keep the user's lines in sight.
        verticalScrollBar()->setValue(oldTop + static_cast<int>(addedOnTop));
    }
    viewport()->update();
}

void CLogListView::onModelReset() {
    m_selection.reset();
    m_lastTopCount = m_shown.topCount();
    m_layout.reset();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    updateScrollBars();
    viewport()->update();
}

void CLogListView::onFilterAboutToChange() {
    m_selection.clearForNewFilter();
    verticalScrollBar()->setValue(0);
}

void CLogListView::onFoldAboutToChange(ScopeTree::Id scope) {
    if (scope == ScopeTree::kNone) {
        // Any scope may change: as for a new filter.
        m_anchored = false;
        onFilterAboutToChange();
        return;
    }
    m_anchor = m_shown.scopes().entryOf(scope);
    const std::ptrdiff_t row = m_shown.rowOf(m_anchor);
    m_anchorOffset = row >= 0 ? row - static_cast<std::ptrdiff_t>(topRow()) : 0;
    m_anchored = true;
    // The rows after the entry change: a selection there would fall on other lines.
    m_selection.reset();
}

void CLogListView::onShownRowsChanged() {
    m_lastTopCount = m_shown.topCount();
    updateScrollBars();
    if (const std::optional<std::size_t> row = m_selection.rowToRestore()) {
        // The line current before the filter, current again; a followed list goes on following.
        m_selection.moveTo(*row, false, false);
        if (!m_following) {
            ensureRowVisible(*row);
        }
    }
    if (m_anchored) {
        // The entry of the scope just folded or unfolded stays where it was on screen.
        if (const std::ptrdiff_t row = m_shown.rowOf(m_anchor); row >= 0) {
            if (!m_selection.hasCurrent()) {
                m_selection.moveTo(static_cast<std::size_t>(row), false, false);
            }
            scrollToRow(
                static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, row - m_anchorOffset)));
        }
        m_anchored = !m_shown.isComplete();
    } else if (m_following) {
        scrollToNewestEnd();
    }
    viewport()->update();
}

void CLogListView::toggleFold(ScopeTree::Id scope) {
    if (!m_shown.fold(scope)) {
        m_shown.unfold(scope);
    }
}

bool CLogListView::foldByKey(bool right) {
    const std::ptrdiff_t current = currentRow();
    if (current < 0) {
        return false;
    }
    const FoldMove move =
        foldMoveFor(m_shown.scopes(), m_shown.placeOf(static_cast<std::size_t>(current)), right);
    switch (move.kind) {
        case FoldMove::Kind::Fold:
            return m_shown.fold(move.scope);
        case FoldMove::Kind::Unfold:
            return m_shown.unfold(move.scope);
        case FoldMove::Kind::GoTo:
            if (const std::ptrdiff_t row = m_shown.rowOf(move.place); row >= 0) {
                moveCurrentTo(static_cast<std::size_t>(row), Qt::NoModifier);
            }
            return true;
        case FoldMove::Kind::None:
            break;
    }
    return false;
}

void CLogListView::drawFoldMark(QPainter& painter, std::size_t row, const QString& text,
                                const QRect& rect, int x, int width) {
    const ScopeTree::Id scope = m_shown.scopeAt(row);
    if (scope == ScopeTree::kNone) {
        return;
    }
    const std::string_view line = m_shown.line(row);
    const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    const QColor colour =
        palette().color(group, isSelected(row) ? QPalette::HighlightedText : QPalette::Text);
    m_foldMarks.draw(
        painter, m_layout.text(), m_shown.scopes(), scope,
        {&text, line, static_cast<qreal>(x), static_cast<qreal>(x + width), rect, colour}, m_times);
}

int CLogListView::rowsInSight() const {
    return std::max(1, viewport()->height() / rowHeight());
}

bool CLogListView::atNewestEnd() const {
    const QScrollBar* bar = verticalScrollBar();
    return newestOnTop() ? bar->sliderPosition() <= bar->minimum()
                         : bar->sliderPosition() >= bar->maximum();
}

void CLogListView::scrollToNewestEnd() {
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(newestOnTop() ? bar->minimum() : bar->maximum());
}

void CLogListView::setFollowing(bool following) {
    if (following == m_following) {
        return;
    }
    m_following = following;
    emit followingChanged(following);
}

void CLogListView::onUserScrolled() {
    setFollowing(atNewestEnd());
}

int CLogListView::shownProgramField(std::string_view line) const {
    const int field = programField(line);
    // The durations column comes before the program.
    return field < 0 ? field : field + (m_times != nullptr && m_timeColumns.durations ? 1 : 0);
}

void CLogListView::updateScrollBars() {
    const int rows = static_cast<int>(m_shown.size());
    const int inSight = rowsInSight();
    verticalScrollBar()->setRange(0, std::max(0, rows - inSight));
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setPageStep(inSight);
    const int width = viewport()->width();
    horizontalScrollBar()->setRange(0,
                                    std::max(0, m_layout.contentWidth() + 2 * kTextMargin - width));
    horizontalScrollBar()->setSingleStep(std::max(1, fontMetrics().averageCharWidth()));
    horizontalScrollBar()->setPageStep(std::max(1, width));
}

void CLogListView::ensureRowVisible(std::size_t row) {
    const std::size_t top = topRow();
    const std::size_t inSight = static_cast<std::size_t>(rowsInSight());
    if (row < top) {
        scrollToRow(row);
    } else if (row >= top + inSight) {
        scrollToRow(row - inSight + 1);
    }
}

void CLogListView::moveCurrentTo(std::size_t row, Qt::KeyboardModifiers modifiers) {
    setFollowing(false);
    m_selection.moveTo(row, modifiers & Qt::ShiftModifier, modifiers & Qt::ControlModifier);
    ensureRowVisible(row);
    viewport()->update();
}
