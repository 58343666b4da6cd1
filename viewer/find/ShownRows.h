#pragma once
#include <QObject>
#include <QTimer>
#include <cstddef>
#include <string_view>

#include "viewer/find/LineFilter.h"
#include "viewer/find/RowIndex.h"
#include "viewer/lines/ScopeTree.h"

class CLogListModel;

// The rows of a CLogListModel that the log list shows: all of them, or those that pass a filter
// and lie in no folded scope. A new filter is applied kStepLines lines per turn of the event
// loop, the rows shown so far growing from the top of the screen down; a fold or an unfold works
// out again the rows of the lines after the scope's entry the same way, from the entry on, so
// the rows before it stay as they were. Lines that arrive later are tested as they are staged,
// while their bytes are still in the cache, and become shown rows when the model announces them,
// before its later listeners hear of them (this object connects first: it is made with the
// list). While nothing is left out every call maps straight through to the model.
//
// The lines' scopes (ScopeTree) are followed as the lines are staged; the lines of a model
// filled at once (a saved log) are gone through kStepLines per turn of the event loop.
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
    // Some lines are left out: by the filter, or inside a folded scope.
    bool isNarrowed() const { return isFiltering() || m_scopes.anyFolded(); }
    // True when every line of the model has been tested against the filter and the folds.
    bool isComplete() const;
    // Tests up to `budget` lines not tested yet; returns isComplete().
    bool step(std::size_t budget);
    // Lines tested against the filter and the folds so far, or taken to pass unseen.
    std::size_t tested() const { return m_index.looked(); }

    std::size_t size() const;
    // Shown rows of lines put on top; they come first.
    std::size_t topCount() const;
    std::size_t modelRow(std::size_t row) const;
    // The first shown row at or below model row `modelRow`; size() when there is none.
    std::size_t rowAtOrAfter(std::size_t modelRow) const;
    std::string_view line(std::size_t row) const;

    const ScopeTree& scopes() const { return m_scopes; }
    // How scopes are recognised: by indentation (the default), or by names in a saved log's
    // lines. Forgets the scopes and goes through the lines again.
    void setScopeRule(ScopeTree::Rule rule);
    // True when every line of the model has been gone through for scopes.
    bool scopesComplete() const;
    // Where the line of shown row `row` lies in the model.
    ScopeTree::Place placeOf(std::size_t row) const;
    // The shown row of the line at `place`, or -1 when it is not shown.
    std::ptrdiff_t rowOf(ScopeTree::Place place) const;
    // The scope whose entry is shown row `row`'s line, or ScopeTree::kNone.
    ScopeTree::Id scopeAt(std::size_t row) const;
    // Both return false when there was nothing to change.
    bool fold(ScopeTree::Id scope);
    bool unfold(ScopeTree::Id scope);
    // Folds every scope at `depth` or deeper, those that open later included.
    void foldBelow(int depth);
    void unfoldAll();

  signals:
    // setFilter() was called; the rows are still those of the old filter.
    void filterAboutToChange();
    // The filter changed: the rows shown are being worked out again.
    void filterChanged();
    // `scope` is about to be folded or unfolded, or with ScopeTree::kNone every scope may be; the
    // rows are still the old ones.
    void foldAboutToChange(ScopeTree::Id scope);
    // A scope was folded or unfolded: the rows shown are being worked out again.
    void foldsChanged();
    // A step added rows, the filter changed or a scope was folded or unfolded.
    void rowsChanged();

  private:
    // The model gained lines: when the filter has caught up they are tested at once.
    void linesArrived();
    void restart();
    // Works out the rows again after `scope`'s entry (kNone: all of them), a step now.
    void refold(ScopeTree::Id scope, bool wasNarrowed);
    // Goes through up to `budget` lines of the model not yet followed for scopes.
    bool learn(std::size_t budget);

    CLogListModel& m_model;
    LineFilter m_filter;
    ScopeTree m_scopes;
    RowIndex::Test m_test;
    RowIndex m_index;
    QTimer m_nextStep;
    QTimer m_nextLearn;
};
