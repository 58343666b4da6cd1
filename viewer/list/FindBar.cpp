#include "viewer/list/FindBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QShortcut>

#include "viewer/list/CLogListView.h"

FindBar::FindBar(CLogListView& list, QWidget* parent)
    : QWidget(parent),
      m_list(list),
      m_test([this](std::string_view line, bool onTop, std::size_t position) {
          const ShownRows& shown = m_list.shownRows();
          return m_search.matches(line) && shown.filter().passes(line) &&
                 !shown.scopes().isHidden({onTop, position});
      }),
      m_pattern(this),
      m_matchCase(QStringLiteral("Match &case"), this),
      m_regex(QStringLiteral("Re&gex"), this),
      m_showOnly(this),
      m_hide(this),
      m_status(this),
      m_closeButton(this),
      m_countStep(this) {
    setObjectName(QStringLiteral("FindBar"));
    m_pattern.setPlaceholderText(QStringLiteral("Find"));
    m_pattern.setClearButtonEnabled(true);
    m_pattern.installEventFilter(this);
    m_status.installEventFilter(this);
    m_closeButton.setText(QStringLiteral("\u00d7"));
    m_closeButton.setToolTip(QStringLiteral("Close the find bar (Escape)"));
    m_closeButton.setAutoRaise(true);
    m_regex.setToolTip(QStringLiteral("Match a regular expression (Alt+G)"));
    m_showOnly.setText(QStringLiteral("Show &only"));
    m_showOnly.setToolTip(QStringLiteral("Show only the lines that match (Alt+O)"));
    m_hide.setText(QStringLiteral("&Hide"));
    m_hide.setToolTip(QStringLiteral("Hide the lines that match (Alt+H)"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // At the window's first size everything fits; the edit keeps room for a word, and the status
    // gives way first (its whole text is its tool tip).
    m_pattern.setMinimumWidth(fontMetrics().averageCharWidth() * kPatternMinimumChars);
    m_status.setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    for (QWidget* control : std::initializer_list<QWidget*>{&m_matchCase, &m_regex, &m_showOnly,
                                                            &m_hide, &m_closeButton}) {
        control->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    layout->addWidget(&m_pattern, 1);
    layout->addWidget(&m_matchCase);
    layout->addWidget(&m_regex);
    layout->addWidget(&m_showOnly);
    layout->addWidget(&m_hide);
    layout->addWidget(&m_status, 1);
    layout->addWidget(&m_closeButton);

    connect(&m_pattern, &QLineEdit::textChanged, this, [this] { patternChanged(); });
    connect(&m_matchCase, &QCheckBox::toggled, this, [this] { patternChanged(); });
    connect(&m_regex, &QCheckBox::toggled, this, [this] { patternChanged(); });
    connect(&m_closeButton, &QToolButton::clicked, this, [this] { close(); });
    connect(&m_showOnly, &QToolButton::clicked, this, [this] { addFilterRule(true); });
    connect(&m_hide, &QToolButton::clicked, this, [this] { addFilterRule(false); });
    connect(&m_countStep, &QTimer::timeout, this, [this] { countSome(); });
    // New lines are counted as they come; Clear starts the count again.
    connect(&m_list.model(), &QAbstractItemModel::rowsInserted, this, [this] {
        if (isVisible() && m_search.isActive() && !m_countStep.isActive()) {
            m_countStep.start(0);
        }
    });
    connect(&m_list.model(), &QAbstractItemModel::modelReset, this, [this] {
        m_matches.restart();
        m_pending = {};
        m_note.clear();
        showStatus();
    });
    // Matches are counted among the rows shown: a new filter or fold counts them again.
    for (const auto changed : {&ShownRows::filterChanged, &ShownRows::foldsChanged}) {
        connect(&m_list.shownRows(), changed, this, [this] {
            if (isVisible() && m_search.isActive()) {
                restartCount();
            }
        });
    }
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
        restartCount();
    }
    showStatus();
}

void FindBar::close() {
    m_countStep.stop();
    m_pending = {};
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
    placeUnderList(*this, list, kGapAboveBar);
}

void FindBar::continueTabOrder(QWidget& before) {
    QWidget* previous = &before;
    for (QWidget* control : std::initializer_list<QWidget*>{
             &m_pattern, &m_matchCase, &m_regex, &m_showOnly, &m_hide, &m_closeButton}) {
        setTabOrder(previous, control);
        previous = control;
    }
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
    m_note.clear();
    m_list.viewport()->update();
    m_pending = {};
    if (m_search.isActive()) {
        restartCount();
        // Searching as the user types keeps the current line when it still matches.
        find(true, true);
    } else {
        m_matches.restart();
        m_countStep.stop();
    }
    showStatus();
}

void FindBar::restartCount() {
    m_matches.restart();
    // A list that one step covers is counted at once, so its next match is found at once too.
    countSome();
}

void FindBar::find(bool forward, bool includeCurrent) {
    if (!m_search.isActive()) {
        return;
    }
    if (m_countStep.isActive()) {
        m_pending = {true, forward, includeCurrent};
        m_note = QStringLiteral("searching");
        showStatus();
        return;
    }
    goToMatch(forward, includeCurrent);
}

void FindBar::goToMatch(bool forward, bool includeCurrent) {
    const ShownRows& shown = m_list.shownRows();
    // Matches are indexed by model row; the current row is a shown row.
    std::ptrdiff_t from = -1;
    if (const std::ptrdiff_t current = m_list.currentRow(); current >= 0) {
        from = static_cast<std::ptrdiff_t>(shown.modelRow(static_cast<std::size_t>(current)));
        if (includeCurrent) {
            from += forward ? -1 : 1;
        }
    }
    const RowIndex::Found found = m_matches.find(m_list.model(), from, forward);
    if (found.row < 0) {
        m_note = QStringLiteral("not found");
    } else {
        m_list.selectRow(shown.rowAtOrAfter(static_cast<std::size_t>(found.row)));
        m_note = !found.wrapped ? QString()
                 : forward      ? QStringLiteral("wrapped to the top")
                                : QStringLiteral("wrapped to the bottom");
    }
    showStatus();
}

void FindBar::countSome() {
    // The matches are rows the list shows, so both indexes must be complete.
    const bool done =
        m_matches.step(m_list.model(), m_test, kCountStepLines) && m_list.shownRows().isComplete();
    if (!done) {
        if (!m_countStep.isActive()) {
            m_countStep.start(0);
        }
    } else {
        m_countStep.stop();
        if (m_pending.asked) {
            m_pending.asked = false;
            goToMatch(m_pending.forward, m_pending.includeCurrent);
        }
    }
    showStatus();
}

void FindBar::addFilterRule(bool show) {
    if (!m_search.isActive()) {
        return;
    }
    LineFilter filter = m_list.shownRows().filter();
    filter.addSearch(m_search, m_pattern.text(), show);
    m_list.shownRows().setFilter(std::move(filter));
}

void FindBar::showStatus() {
    QString text;
    if (!m_search.error().isEmpty()) {
        text = QStringLiteral("Invalid pattern: %1").arg(m_search.error());
    } else if (m_search.isActive()) {
        const std::size_t count = m_matches.count();
        text = count == 1 ? QStringLiteral("1 line matches")
                          : QStringLiteral("%1 lines match").arg(count);
        if (m_countStep.isActive()) {
            text += QStringLiteral(" so far");
        }
        if (!m_note.isEmpty()) {
            text += QStringLiteral(", ") + m_note;
        }
    }
    m_statusText = text;
    m_status.setToolTip(text);
    elideStatus();
    // An invalid pattern shows its edit in the colour of an error.
    QPalette palette = m_pattern.palette();
    palette.setColor(QPalette::Text, m_search.error().isEmpty()
                                         ? QWidget::palette().color(QPalette::Text)
                                         : QColor(Qt::red));
    m_pattern.setPalette(palette);
}

void FindBar::elideStatus() {
    m_status.setText(m_status.fontMetrics().elidedText(m_statusText, Qt::ElideRight,
                                                       m_status.contentsRect().width()));
}

void FindBar::finishPendingFind() {
    while (m_pending.asked && m_countStep.isActive() && m_list.shownRows().isComplete()) {
        countSome();
    }
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
    // Ctrl+C in an edit with nothing selected copies the lines found instead; typed just before,
    // the search may still be counting: the line it goes to is the one copied.
    if (watched == &m_pattern && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event) == QKeySequence::Copy && !m_pattern.hasSelectedText()) {
        finishPendingFind();
        m_list.copySelection();
        return true;
    }
    if (watched == &m_status && event->type() == QEvent::Resize) {
        elideStatus();
    }
    return QWidget::eventFilter(watched, event);
}
