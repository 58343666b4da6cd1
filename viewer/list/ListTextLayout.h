#pragma once
#include <QFont>
#include <QString>
#include <QTextOption>
#include <cstddef>
#include <string_view>

#include "viewer/list/NumberColumn.h"
#include "viewer/list/TabbedText.h"

class CLogListModel;

// How the log list lays out the text of its rows: tabs advance to stops a fixed distance apart
// (TabbedText), the first past the widest line number seen (NumberColumn), and the widest line
// measured so far sets how far the list scrolls sideways. No window is needed.
class ListTextLayout {
  public:
    static constexpr qreal kDefaultTabStopDistance = 64;

    explicit ListTextLayout(const QFont& font);

    // A distance of 0 or less is the default one. The first stop is measured again from the
    // newest lines of `model`.
    void setTabStopDistance(qreal pixels, const QFont& font, const CLogListModel& model);
    qreal tabStopDistance() const { return m_tabStopDistance; }
    // Another font: the stops are measured again, and so is every line's width from now on.
    void setFont(const QFont& font, const CLogListModel& model);

    const TabbedText& text() const { return m_text; }
    // How a row is drawn: left aligned, not wrapped, each tab where measuring puts it.
    QTextOption drawOption() const;
    // Width of `text` with these stops.
    int lineWidth(const QString& text) const;
    // `line` as the list draws it (lineText()); when `programAt` is not negative, that field, the
    // program, is cut short with an ellipsis where it would push the entry a stop further
    // right, so that a long program never makes an entry look one level deeper. Only the screen
    // changes: the line keeps its bytes.
    QString screenText(std::string_view line, int programAt) const;

    // Width of the widest line measured so far.
    int contentWidth() const { return m_contentWidth; }
    // A row drawn `width` pixels wide; true when it is the widest so far.
    bool noteWidth(int width);
    // Rows `first` .. `last` of `model` were just added: their numbers, and the longest of them
    // by bytes (cheap, and close to the widest), are measured; true when the widest grew.
    bool noteInserted(const CLogListModel& model, std::size_t first, std::size_t last);
    // The list is empty again.
    void reset();

  private:
    qreal m_tabStopDistance = kDefaultTabStopDistance;
    TabbedText m_text;
    NumberColumn m_numbers;
    int m_contentWidth = 0;
};
