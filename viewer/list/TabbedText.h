#pragma once
#include <QFont>
#include <QFontMetricsF>
#include <QList>
#include <QString>
#include <QStringView>
#include <QTextOption>
#include <array>

// Where a line of text falls when tabs advance to stops a fixed distance apart, never closer than
// a space's width to the text before them: its width, and
// how much of it is needed to reach a given right edge, so that drawing can leave out what lies
// beyond the edge of the view.
//
// Lines of printable Latin-1 characters are measured with each character's own advance, kept in
// a table: no shaping, and kerning only makes the drawn line narrower than measured, so the
// width errs wide and the cut errs late. Any other character makes the line measured by shaping
// its pieces between tabs, and drawn in full.
class TabbedText {
  public:
    TabbedText(const QFont& font, qreal tabStopDistance);

    struct Extent {
        qreal width;
        // Leading characters to draw so that everything left of the edge is drawn.
        qsizetype needed;
    };
    // `right` is the edge in pixels from the start of the line.
    Extent measure(QStringView text, qreal right) const;

    // A tab left of `x` goes to `x` first, then to the stops after it; 0 keeps only the stops.
    void setFirstStop(qreal x) { m_firstStop = x; }
    qreal firstStop() const { return m_firstStop; }
    // The first stop at least a space's width right of `x` when only the fixed stops count, so
    // that two columns never touch.
    qreal gridStopAfter(qreal x) const;
    // The x a tab at `x` moves to: the first stop at least a space's width to the right.
    qreal nextStop(qreal x) const;
    // Where each tab among the first `count` characters of `text` moves to, in order: drawing
    // with these stops puts every column where measuring does.
    QList<QTextOption::Tab> tabsOf(QStringView text, qsizetype count) const;
    // The least room between two columns: a space's width.
    qreal columnGap() const { return m_gap; }

    // Characters drawn beyond the measured edge, for the small differences shaping makes.
    static constexpr qsizetype kSpareCharacters = 8;

  private:
    Extent measureShaped(QStringView text) const;

    QFontMetricsF m_metrics;
    qreal m_tabStopDistance;
    qreal m_firstStop = 0;
    qreal m_gap;
    // Advances of the printable Latin-1 characters; negative for the others.
    std::array<qreal, 256> m_advance{};
};
