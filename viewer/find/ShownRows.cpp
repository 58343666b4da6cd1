#include "viewer/find/ShownRows.h"

#include <limits>

#include "viewer/lines/CLogListModel.h"

ShownRows::ShownRows(CLogListModel& model, QObject* parent)
    : QObject(parent),
      m_model(model),
      m_test([this](std::string_view line) { return m_filter.passes(line); }) {
    connect(&model, &QAbstractItemModel::rowsInserted, this, [this] { linesArrived(); });
    connect(&model, &QAbstractItemModel::modelReset, this, [this] { restart(); });
    model.setStagedLineObserver([this](std::string_view line, bool onTop, std::size_t position) {
        if (isFiltering()) {
            m_index.noteTested(onTop, position, m_filter.passes(line));
        }
    });
    m_nextStep.setSingleShot(true);
    connect(&m_nextStep, &QTimer::timeout, this, [this] {
        if (!step(kStepLines)) {
            m_nextStep.start(0);
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
    return !isFiltering() || m_index.isDone(m_model);
}

bool ShownRows::step(std::size_t budget) {
    return !isFiltering() || m_index.step(m_model, m_test, budget);
}

std::size_t ShownRows::size() const {
    return isFiltering() ? m_index.count() : m_model.size();
}

std::size_t ShownRows::topCount() const {
    return isFiltering() ? m_index.topCount() : m_model.topCount();
}

std::size_t ShownRows::modelRow(std::size_t row) const {
    return isFiltering() ? m_index.row(m_model, row) : row;
}

std::size_t ShownRows::rowAtOrAfter(std::size_t modelRow) const {
    if (!isFiltering()) {
        return std::min(modelRow, m_model.size());
    }
    return m_index.indexAtOrAfter(m_model, modelRow);
}

std::string_view ShownRows::line(std::size_t row) const {
    return m_model.line(modelRow(row));
}

void ShownRows::linesArrived() {
    if (!isFiltering() || m_nextStep.isActive()) {
        return;
    }
    // Caught up before these lines: testing them costs the same per line however many there are.
    m_index.step(m_model, m_test, std::numeric_limits<std::size_t>::max());
}

void ShownRows::restart() {
    m_index.restart();
    m_nextStep.stop();
    if (isFiltering() && !step(kStepLines)) {
        m_nextStep.start(0);
    }
}
