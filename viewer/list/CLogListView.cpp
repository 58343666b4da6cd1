#include "viewer/list/CLogListView.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <optional>

#include "viewer/list/FoldKeys.h"
#include "viewer/list/ListKeys.h"
#include "viewer/list/RowPainter.h"

namespace {
constexpr int kTextMargin = 2;
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

void CLogListView::copySelection() const {
    if (m_selection.empty()) {
        return;
    }
    const std::string text = selectedText();
    QApplication::clipboard()->setText(
        QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
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
        if (m_times != nullptr && m_timeColumns.any()) {
            decorateLine(line, *m_times, m_timeColumns, m_decorated);
            line = m_decorated;
        }
        const QRect rect(0, y, viewport()->width(), height);
        const int width = rowPainter.paint(line, rect, x, isSelected(row),
                                           static_cast<std::ptrdiff_t>(row) == current);
        widest = std::max(widest, width);
        drawFoldMark(painter, row, line, rect, x, width);
    }
    if (m_layout.noteWidth(widest)) {
        updateScrollBars();
    }
}

void CLogListView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void CLogListView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
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
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    m_selection.click(static_cast<std::size_t>(row), modifiers & Qt::ShiftModifier,
                      modifiers & Qt::ControlModifier);
    viewport()->update();
}

void CLogListView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || !m_selection.hasCurrent()) {
        return;
    }
    const int y = std::clamp(event->position().toPoint().y(), 0, viewport()->height() - 1);
    const std::ptrdiff_t row = rowAt(y);
    if (row < 0) {
        return;
    }
    if (!m_selection.dragTo(static_cast<std::size_t>(row),
                            event->modifiers() & Qt::ControlModifier)) {
        return;
    }
    ensureRowVisible(static_cast<std::size_t>(row));
    viewport()->update();
}

void CLogListView::mouseReleaseEvent(QMouseEvent* event) {
    event->setAccepted(event->button() == Qt::LeftButton);
}

void CLogListView::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        copySelection();
        return;
    }
    if (event == QKeySequence::SelectAll) {
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
        // Ctrl+End selects the newest line, on top or at the bottom; Ctrl+Home the oldest.
        selectRow(end == (m_shown.topCount() > 0) ? 0 : rows - 1);
        return;
    }
    const std::size_t current = currentRow() >= 0 ? static_cast<std::size_t>(currentRow()) : 0;
    if (event->key() == Qt::Key_Space && (event->modifiers() & Qt::ControlModifier)) {
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
    // Lines put on top while the user looks further down keep the user's lines in sight.
    if (addedOnTop > 0 && oldTop > 0) {
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
        selectRow(*row);
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

void CLogListView::drawFoldMark(QPainter& painter, std::size_t row, std::string_view drawn,
                                const QRect& rect, int x, int width) {
    const ScopeTree::Id scope = m_shown.scopeAt(row);
    if (scope == ScopeTree::kNone) {
        return;
    }
    const std::string_view line = m_shown.line(row);
    const QString text = QString::fromLocal8Bit(drawn.data(), static_cast<qsizetype>(drawn.size()));
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
    m_selection.moveTo(row, modifiers & Qt::ShiftModifier, modifiers & Qt::ControlModifier);
    ensureRowVisible(row);
    viewport()->update();
}
