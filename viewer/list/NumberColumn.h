#pragma once
#include <QTextOption>
#include <string_view>

#include "viewer/list/TabbedText.h"

class CLogListModel;

// The line-number column on screen: as wide as the widest number seen, rounded up to a tab stop,
// so that numbers of any width keep the later columns aligned. Only the display changes; the
// lines' bytes keep their single tab.
class NumberColumn {
  public:
    // Measures the text before the first tab of `line`; true when the column grew, in which
    // case `text` measures with the new first stop.
    bool note(std::string_view line, TabbedText& text);
    // Back to one tab stop, as for an empty list.
    void reset(TabbedText& text);
    // Measures again from the newest lines of `model`, at either end of the list.
    void remeasure(const CLogListModel& model, TabbedText& text);
    // Where the second column starts, or 0 while it starts at the first fixed stop.
    qreal stop() const { return m_stop; }
    // Makes drawing with `option` put the first tab where measuring puts it.
    void applyTo(QTextOption& option) const;

  private:
    qreal m_stop = 0;
};
