#include "viewer/find/ShownRows.h"

#include <algorithm>
#include <limits>

#include "viewer/lines/CLogListModel.h"

ShownRows::ShownRows(CLogListModel& model, QObject* parent)
    : QObject(parent),
      m_model(model),
      m_test([this](std::string_view line, bool onTop, std::size_t position) {
          return !m_scopes.isHidden({onTop, position}) && m_filter.passes(line);
      }) {
    connect(&model, &QAbstractItemModel::rowsInserted, this, [this] { linesArrived(); });
    connect(&model, &QAbstractItemModel::modelReset, this, [this] {
        m_scopes.clear();
        restart();
        if (!learn(kStepLines)) {
            m_nextLearn.start(0);
        }
    });
    model.setStagedLineObserver([this](std::string_view line, bool onTop, std::size_t position) {
        // Lines are followed for scopes in the order they come, unless older ones wait.
        if (m_nextLearn.isActive() || m_scopes.lineCount(onTop) != position) {
            return;
        }
        const bool hidden = m_scopes.add(line, {onTop, position});
        if (isNarrowed()) {
            m_index.noteTested(onTop, position, !hidden && m_filter.passes(line));
        }
    });
    m_nextStep.setSingleShot(true);
    connect(&m_nextStep, &QTimer::timeout, this, [this] {
        if (!step(kStepLines)) {
            m_nextStep.start(0);
        }
        emit rowsChanged();
    });
    m_nextLearn.setSingleShot(true);
    connect(&m_nextLearn, &QTimer::timeout, this, [this] {
        if (!learn(kStepLines)) {
            m_nextLearn.start(0);
        }
        emit rowsChanged();
    });
}

ShownRows::~ShownRows() {
    m_model.setStagedLineObserver({});
}

void ShownRows::setFilter(LineFilter filter) {
    emit filterAboutToChange();
    m_filter = std::move(filter);
    restart();
    emit filterChanged();
    emit rowsChanged();
}

bool ShownRows::isComplete() const {
    return !isNarrowed() || m_index.isDone(m_model);
}

bool ShownRows::step(std::size_t budget) {
    return !isNarrowed() || m_index.step(m_model, m_test, budget);
}

std::size_t ShownRows::size() const {
    return isNarrowed() ? m_index.count() : m_model.size();
}

std::size_t ShownRows::topCount() const {
    return isNarrowed() ? m_index.topCount() : m_model.topCount();
}

std::size_t ShownRows::modelRow(std::size_t row) const {
    return isNarrowed() ? m_index.row(m_model, row) : row;
}

std::size_t ShownRows::rowAtOrAfter(std::size_t modelRow) const {
    if (!isNarrowed()) {
        return std::min(modelRow, m_model.size());
    }
    return m_index.indexAtOrAfter(m_model, modelRow);
}

std::string_view ShownRows::line(std::size_t row) const {
    return m_model.line(modelRow(row));
}

void ShownRows::setScopeRule(ScopeTree::Rule rule) {
    const bool wasNarrowed = isNarrowed();
    m_scopes = ScopeTree(rule);
    if (wasNarrowed && !isNarrowed()) {
        restart();
    }
    m_nextLearn.stop();
    if (!learn(kStepLines)) {
        m_nextLearn.start(0);
    }
}

bool ShownRows::scopesComplete() const {
    return m_scopes.lineCount() >= m_model.size();
}

ScopeTree::Place ShownRows::placeOf(std::size_t row) const {
    const std::size_t inModel = modelRow(row);
    const std::size_t top = m_model.topCount();
    return inModel < top ? ScopeTree::Place{true, top - 1 - inModel}
                         : ScopeTree::Place{false, inModel - top};
}

std::ptrdiff_t ShownRows::rowOf(ScopeTree::Place place) const {
    const std::size_t top = m_model.topCount();
    if (place.position >= (place.onTop ? top : m_model.size() - top)) {
        return -1;
    }
    const std::size_t inModel = place.onTop ? top - 1 - place.position : top + place.position;
    const std::size_t row = rowAtOrAfter(inModel);
    return row < size() && modelRow(row) == inModel ? static_cast<std::ptrdiff_t>(row) : -1;
}

ScopeTree::Id ShownRows::scopeAt(std::size_t row) const {
    return row < size() ? m_scopes.scopeAt(placeOf(row)) : ScopeTree::kNone;
}

bool ShownRows::fold(ScopeTree::Id scope) {
    if (scope >= m_scopes.scopeCount() || m_scopes.isFolded(scope)) {
        return false;
    }
    emit foldAboutToChange(scope);
    const bool wasNarrowed = isNarrowed();
    m_scopes.fold(scope);
    refold(scope, wasNarrowed);
    return true;
}

bool ShownRows::unfold(ScopeTree::Id scope) {
    if (scope >= m_scopes.scopeCount() || !m_scopes.isFolded(scope)) {
        return false;
    }
    emit foldAboutToChange(scope);
    const bool wasNarrowed = isNarrowed();
    m_scopes.unfold(scope);
    refold(scope, wasNarrowed);
    return true;
}

void ShownRows::foldBelow(int depth) {
    emit foldAboutToChange(ScopeTree::kNone);
    const bool wasNarrowed = isNarrowed();
    m_scopes.foldBelow(depth);
    refold(ScopeTree::kNone, wasNarrowed);
}

void ShownRows::unfoldAll() {
    emit foldAboutToChange(ScopeTree::kNone);
    const bool wasNarrowed = isNarrowed();
    m_scopes.unfoldAll();
    refold(ScopeTree::kNone, wasNarrowed);
}

void ShownRows::refold(ScopeTree::Id scope, bool wasNarrowed) {
    if (scope == ScopeTree::kNone || !isNarrowed()) {
        restart();
        emit foldsChanged();
        emit rowsChanged();
        return;
    }
    m_nextStep.stop();
    // Only the lines after the entry can change: those before it keep their rows.
    const std::size_t top = m_model.topCount();
    const std::size_t onTop = std::min(m_scopes.firstPositionAfter(scope, true), top);
    const std::size_t below =
        std::min(m_scopes.firstPositionAfter(scope, false), m_model.size() - top);
    if (wasNarrowed) {
        m_index.rewind(true, onTop);
        m_index.rewind(false, below);
    } else {
        m_index.restart();
        m_index.assumePassing(true, onTop);
        m_index.assumePassing(false, below);
    }
    if (!step(kStepLines)) {
        m_nextStep.start(0);
    }
    emit foldsChanged();
    emit rowsChanged();
}

bool ShownRows::learn(std::size_t budget) {
    const std::size_t top = m_model.topCount();
    // A model filled at once holds its lines at the bottom, oldest first.
    for (const bool onTop : {false, true}) {
        const std::size_t count = onTop ? top : m_model.size() - top;
        for (std::size_t position = m_scopes.lineCount(onTop); position < count && budget > 0;
             ++position, --budget) {
            m_scopes.add(m_model.line(onTop ? top - 1 - position : top + position),
                         {onTop, position});
        }
    }
    return scopesComplete();
}

void ShownRows::linesArrived() {
    if (!isNarrowed() || m_nextStep.isActive()) {
        return;
    }
    // Caught up before these lines: testing them costs the same per line however many there are.
    m_index.step(m_model, m_test, std::numeric_limits<std::size_t>::max());
}

void ShownRows::restart() {
    m_index.restart();
    m_nextStep.stop();
    if (isNarrowed() && !step(kStepLines)) {
        m_nextStep.start(0);
    }
}
