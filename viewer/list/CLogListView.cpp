#include "viewer/list/CLogListView.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QTextOption>
#include <algorithm>
#include <cmath>
#include <utility>

#include "viewer/files/LogFileWriter.h"
#include "viewer/list/ListKeys.h"
#include "viewer/list/MatchHighlight.h"

namespace {
constexpr int kTextMargin = 2;
constexpr qreal kDefaultTabStopDistance = 64;
}  // namespace

CLogListView::CLogListView(QWidget* parent)
    : QAbstractScrollArea(parent),
      m_model(this),
      m_shown(m_model, this),
      m_text(font(), kDefaultTabStopDistance) {
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    m_tabStopDistance = kDefaultTabStopDistance;
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, &CLogListView::onRowsInserted);
    connect(&m_model, &QAbstractItemModel::modelReset, this, &CLogListView::onModelReset);
    connect(&m_shown, &ShownRows::filterAboutToChange, this, &CLogListView::onFilterAboutToChange);
    connect(&m_shown, &ShownRows::rowsChanged, this, &CLogListView::onShownRowsChanged);
    updateScrollBars();
}

CLogListView::~CLogListView() = default;

void CLogListView::setTabStopDistance(qreal pixels) {
    m_tabStopDistance = pixels > 0 ? pixels : kDefaultTabStopDistance;
    m_text = TabbedText(font(), m_tabStopDistance);
    m_numbers.remeasure(m_model, m_text);
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

int CLogListView::lineWidth(const QString& text) const {
    return static_cast<int>(std::ceil(m_text.measure(text, 0).width));
}

std::ptrdiff_t CLogListView::rowAt(int y) const {
    if (y < 0) {
        return -1;
    }
    const std::size_t row = topRow() + static_cast<std::size_t>(y / rowHeight());
    return row < m_shown.size() ? static_cast<std::ptrdiff_t>(row) : -1;
}

bool CLogListView::isSelected(std::size_t row) const {
    return m_selection.contains(keyOfRow(row));
}

std::size_t CLogListView::selectedCount() const {
    return m_selection.count();
}

std::ptrdiff_t CLogListView::currentRow() const {
    return m_selection.hasCurrent() ? rowOfKey(m_selection.current()) : -1;
}

void CLogListView::selectAll() {
    m_selection.clear();
    if (m_shown.size() > 0) {
        m_selection.select(keyOfRow(0), keyOfRow(m_shown.size() - 1));
    }
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

std::string CLogListView::selectedText() const {
    std::string text;
    m_selection.forEachOldestFirst([&](Key key) {
        LogFileWriter::appendSavedLine(text, m_shown.line(static_cast<std::size_t>(rowOfKey(key))));
    });
    return text;
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

void CLogListView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const int height = rowHeight();
    const int viewportWidth = viewport()->width();
    const int x = kTextMargin - horizontalScrollBar()->value();
    const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    QTextOption option(Qt::AlignLeft | Qt::AlignVCenter);
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(m_tabStopDistance);
    m_numbers.applyTo(option);

    int widest = 0;
    const std::size_t rows = m_shown.size();
    const std::ptrdiff_t current = hasFocus() ? currentRow() : -1;
    int y = 0;
    for (std::size_t row = topRow(); row < rows && y < viewport()->height(); ++row, y += height) {
        const QRect rowRect(0, y, viewportWidth, height);
        const bool selected = isSelected(row);
        if (selected) {
            painter.fillRect(rowRect, palette().brush(group, QPalette::Highlight));
        }
        painter.setPen(
            palette().color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        const std::string_view bytes = m_shown.line(row);
        QString text = QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
        // Only what reaches the viewport's right edge is laid out and drawn.
        const TabbedText::Extent extent = m_text.measure(text, viewportWidth - x);
        const int width = static_cast<int>(std::ceil(extent.width));
        widest = std::max(widest, width);
        drawRowText(painter, m_search, m_text, std::move(text), extent.needed,
                    QRectF(x, y, width + viewportWidth, height), option, selected,
                    palette().color(group, QPalette::Text));
        if (static_cast<std::ptrdiff_t>(row) == current) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = rowRect;
            focus.backgroundColor =
                palette().color(group, selected ? QPalette::Highlight : QPalette::Base);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
        }
    }
    noteLineWidth(widest);
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
    const std::ptrdiff_t row = rowAt(event->position().toPoint().y());
    if (row < 0) {
        return;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    m_selection.click(keyOfRow(static_cast<std::size_t>(row)), modifiers & Qt::ShiftModifier,
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
    if (!m_selection.dragTo(keyOfRow(static_cast<std::size_t>(row)),
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
        m_selection.toggleAt(keyOfRow(current));
        viewport()->update();
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
        m_text = TabbedText(font(), m_tabStopDistance);
        m_numbers.remeasure(m_model, m_text);
        m_contentWidth = 0;
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
    // Numbers grow by one per line: the newest lines are the first and the last inserted.
    m_numbers.note(m_model.line(static_cast<std::size_t>(first)), m_text);
    m_numbers.note(m_model.line(static_cast<std::size_t>(last)), m_text);
    // Measure only the longest new line by bytes: cheap, and close to the true widest.
    std::size_t longestRow = static_cast<std::size_t>(first);
    std::size_t longestBytes = 0;
    for (int row = first; row <= last; ++row) {
        const std::size_t bytes = m_model.line(static_cast<std::size_t>(row)).size();
        if (bytes > longestBytes) {
            longestBytes = bytes;
            longestRow = static_cast<std::size_t>(row);
        }
    }
    const std::string_view longest = m_model.line(longestRow);
    noteLineWidth(
        lineWidth(QString::fromLocal8Bit(longest.data(), static_cast<qsizetype>(longest.size()))));

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
    m_currentToRestore = false;
    m_lastTopCount = m_shown.topCount();
    m_contentWidth = 0;
    m_numbers.reset(m_text);
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    updateScrollBars();
    viewport()->update();
}

void CLogListView::onFilterAboutToChange() {
    const std::ptrdiff_t current = currentRow();
    m_currentToRestore = current >= 0;
    if (m_currentToRestore) {
        m_currentBeforeFilter =
            static_cast<Key>(m_shown.modelRow(static_cast<std::size_t>(current))) -
            static_cast<Key>(m_model.topCount());
    }
    m_selection.reset();
    verticalScrollBar()->setValue(0);
}

void CLogListView::onShownRowsChanged() {
    m_lastTopCount = m_shown.topCount();
    updateScrollBars();
    if (m_currentToRestore && m_shown.isComplete()) {
        m_currentToRestore = false;
        const Key modelRow = m_currentBeforeFilter + static_cast<Key>(m_model.topCount());
        const std::size_t row =
            m_shown.rowAtOrAfter(static_cast<std::size_t>(std::max<Key>(0, modelRow)));
        selectRow(row < m_shown.size() ? row : m_shown.size() - 1);
    }
    viewport()->update();
}

CLogListView::Key CLogListView::keyOfRow(std::size_t row) const {
    return static_cast<Key>(row) - static_cast<Key>(m_shown.topCount());
}

std::ptrdiff_t CLogListView::rowOfKey(Key key) const {
    const Key row = key + static_cast<Key>(m_shown.topCount());
    return row >= 0 && row < static_cast<Key>(m_shown.size()) ? static_cast<std::ptrdiff_t>(row)
                                                              : -1;
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
    horizontalScrollBar()->setRange(0, std::max(0, m_contentWidth + 2 * kTextMargin - width));
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
    m_selection.moveTo(keyOfRow(row), modifiers & Qt::ShiftModifier,
                       modifiers & Qt::ControlModifier, keyOfRow(0));
    ensureRowVisible(row);
    viewport()->update();
}

void CLogListView::noteLineWidth(int width) {
    if (width > m_contentWidth) {
        m_contentWidth = width;
        updateScrollBars();
    }
}
