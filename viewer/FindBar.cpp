#include "viewer/FindBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QShortcut>
#include <algorithm>

#include "viewer/CLogListView.h"

FindBar::FindBar(CLogListView& list, QWidget* parent)
    : QWidget(parent),
      m_list(list),
      m_pattern(this),
      m_matchCase(QStringLiteral("Match &case"), this),
      m_regex(QStringLiteral("Re&gular expression"), this),
      m_status(this),
      m_closeButton(this),
      m_countStep(this) {
    setObjectName(QStringLiteral("FindBar"));
    m_pattern.setPlaceholderText(QStringLiteral("Find"));
    m_pattern.setClearButtonEnabled(true);
    m_pattern.installEventFilter(this);
    m_closeButton.setText(QStringLiteral("\u00d7"));
    m_closeButton.setToolTip(QStringLiteral("Close the find bar (Escape)"));
    m_closeButton.setAutoRaise(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(&m_pattern, 2);
    layout->addWidget(&m_matchCase);
    layout->addWidget(&m_regex);
    layout->addWidget(&m_status, 1);
    layout->addWidget(&m_closeButton);

    connect(&m_pattern, &QLineEdit::textChanged, this, [this] { patternChanged(); });
    connect(&m_matchCase, &QCheckBox::toggled, this, [this] { patternChanged(); });
    connect(&m_regex, &QCheckBox::toggled, this, [this] { patternChanged(); });
    connect(&m_closeButton, &QToolButton::clicked, this, [this] { close(); });
    connect(&m_countStep, &QTimer::timeout, this, [this] { countSome(); });
    // New lines are counted as they come; Clear starts the count again.
    connect(&m_list.model(), &QAbstractItemModel::rowsInserted, this, [this] {
        if (isVisible() && m_search.isActive() && !m_countStep.isActive()) {
            m_countStep.start(0);
        }
    });
    connect(&m_list.model(), &QAbstractItemModel::modelReset, this, [this] {
        m_counter.restart();
        m_note.clear();
        showStatus();
    });
    hide();
}

void FindBar::open() {
    const bool wasHidden = isHidden();
    show();
    if (wasHidden) {
        emit shownOrHidden();
    }
    m_list.setSearch(&m_search);
    m_pattern.setFocus(Qt::ShortcutFocusReason);
    m_pattern.selectAll();
    if (wasHidden && m_search.isActive()) {
        m_counter.restart();
        m_countStep.start(0);
    }
    showStatus();
}

void FindBar::close() {
    m_countStep.stop();
    m_list.setSearch(nullptr);
    const bool wasShown = !isHidden();
    hide();
    m_list.setFocus(Qt::OtherFocusReason);
    if (wasShown) {
        emit shownOrHidden();
    }
}

void FindBar::addShortcuts(QWidget& window) {
    auto* find = new QShortcut(QKeySequence::Find, &window);
    connect(find, &QShortcut::activated, this, [this] { open(); });
    auto* next = new QShortcut(QKeySequence(Qt::Key_F3), &window);
    connect(next, &QShortcut::activated, this, [this] { findNext(); });
    auto* previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), &window);
    connect(previous, &QShortcut::activated, this, [this] { findPrevious(); });
}

void FindBar::addMenuAction(QMenu& menu) {
    QAction* find = menu.addAction(QStringLiteral("&Find..."), this, [this] { open(); });
    find->setShortcut(QKeySequence::Find);
}

void FindBar::takeRoomFrom(ListPlacement& list) {
    if (isHidden()) {
        return;
    }
    const int barHeight = sizeHint().height();
    list.height = std::max(0, list.height - barHeight - kGapAboveBar);
    setGeometry(list.x, list.y + list.height + kGapAboveBar, list.width, barHeight);
}

void FindBar::findNext() {
    if (isHidden()) {
        open();
    }
    find(true, false);
}

void FindBar::findPrevious() {
    if (isHidden()) {
        open();
    }
    find(false, false);
}

void FindBar::patternChanged() {
    m_search.setPattern(m_pattern.text(), m_matchCase.isChecked(), m_regex.isChecked());
    m_counter.restart();
    m_note.clear();
    m_list.viewport()->update();
    if (m_search.isActive()) {
        // Searching as the user types keeps the current line when it still matches.
        find(true, true);
        m_countStep.start(0);
    } else {
        m_countStep.stop();
    }
    showStatus();
}

void FindBar::find(bool forward, bool includeCurrent) {
    if (!m_search.isActive()) {
        return;
    }
    std::ptrdiff_t from = m_list.currentRow();
    if (includeCurrent && from >= 0) {
        from += forward ? -1 : 1;
    }
    const LineSearch::Found found = m_search.find(m_list.model(), from, forward);
    if (found.row < 0) {
        m_note = QStringLiteral("not found");
    } else {
        m_list.selectRow(static_cast<std::size_t>(found.row));
        m_note = !found.wrapped ? QString()
                 : forward      ? QStringLiteral("wrapped to the top")
                                : QStringLiteral("wrapped to the bottom");
    }
    showStatus();
}

void FindBar::countSome() {
    if (m_counter.step(m_list.model(), m_search, kCountStepLines)) {
        m_countStep.stop();
    }
    showStatus();
}

void FindBar::showStatus() {
    QString text;
    if (!m_search.error().isEmpty()) {
        text = QStringLiteral("Invalid pattern: %1").arg(m_search.error());
    } else if (m_search.isActive()) {
        const std::size_t count = m_counter.matches();
        text = count == 1 ? QStringLiteral("1 line matches")
                          : QStringLiteral("%1 lines match").arg(count);
        if (m_countStep.isActive()) {
            text += QStringLiteral(" so far");
        }
        if (!m_note.isEmpty()) {
            text += QStringLiteral(", ") + m_note;
        }
    }
    m_status.setText(text);
    // An invalid pattern shows its edit in the colour of an error.
    QPalette palette = m_pattern.palette();
    palette.setColor(QPalette::Text, m_search.error().isEmpty()
                                         ? QWidget::palette().color(QPalette::Text)
                                         : QColor(Qt::red));
    m_pattern.setPalette(palette);
}

void FindBar::keyPressEvent(QKeyEvent* event) {
    const bool backwards = event->modifiers() & Qt::ShiftModifier;
    switch (event->key()) {
        case Qt::Key_Enter:
        case Qt::Key_Return:
        case Qt::Key_F3:
            find(!backwards, false);
            event->accept();
            return;
        case Qt::Key_Escape:
            close();
            event->accept();
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
    // Ctrl+C in an edit with nothing selected copies the lines found instead.
    if (watched == &m_pattern && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event) == QKeySequence::Copy && !m_pattern.hasSelectedText()) {
        m_list.copySelection();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
