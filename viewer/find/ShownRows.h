#pragma once
#include <QObject>
#include <QTimer>
#include <cstddef>
#include <string_view>

#include "viewer/find/LineFilter.h"
#include "viewer/find/RowIndex.h"

class CLogListModel;

// The rows of a CLogListModel that the log list shows: all of them, or under a filter the ones
// that pass it. A new filter is applied kStepLines lines per turn of the event loop, the rows
// shown so far growing from the top of the screen down. Lines that arrive later are tested as
// they are staged, while their bytes are still in the cache, and become shown rows when the
// model announces them, before its later listeners hear of them (this object connects first: it
// is made with the list). Without a filter every call maps straight through to the model.
class ShownRows : public QObject {
    Q_OBJECT
  public:
    // Lines tested per step: a few milliseconds of work between turns of the loop.
    static constexpr std::size_t kStepLines = 20000;

    // Watches the lines `model` stages until destroyed.
    explicit ShownRows(CLogListModel& model, QObject* parent = nullptr);
    ~ShownRows() override;
    ShownRows(const ShownRows&) = delete;
    ShownRows& operator=(const ShownRows&) = delete;

    bool isFiltering() const { return !m_filter.isEmpty(); }
    const LineFilter& filter() const { return m_filter; }
    // Applies `filter`: the first step now, the rest on later turns of the event loop.
    void setFilter(LineFilter filter);
    // True when every line of the model has been tested against the filter.
    bool isComplete() const;
    // Tests up to `budget` lines not tested yet; returns isComplete().
    bool step(std::size_t budget);
    // Lines tested against the filter so far.
    std::size_t tested() const { return m_index.looked(); }

    std::size_t size() const;
    // Shown rows of lines put on top; they come first.
    std::size_t topCount() const;
    std::size_t modelRow(std::size_t row) const;
    // The first shown row at or below model row `modelRow`; size() when there is none.
    std::size_t rowAtOrAfter(std::size_t modelRow) const;
    std::string_view line(std::size_t row) const;

  signals:
    // setFilter() was called; the rows are still those of the old filter.
    void filterAboutToChange();
    // The filter changed: the rows shown are being worked out again.
    void filterChanged();
    // A step of a new filter added rows, or the filter changed.
    void rowsChanged();

  private:
    // The model gained lines: when the filter has caught up they are tested at once.
    void linesArrived();
    void restart();

    CLogListModel& m_model;
    LineFilter m_filter;
    RowIndex::Test m_test;
    RowIndex m_index;
    QTimer m_nextStep;
};
