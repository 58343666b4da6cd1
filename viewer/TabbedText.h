#pragma once
#include <QFont>
#include <QFontMetricsF>
#include <QString>
#include <QStringView>
#include <array>

// Where a line of text falls when tabs advance to stops a fixed distance apart: its width, and
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

    // Characters drawn beyond the measured edge, for the small differences shaping makes.
    static constexpr qsizetype kSpareCharacters = 8;

  private:
    // The x a tab at `x` moves to: the next stop strictly to the right.
    qreal nextStop(qreal x) const;
    Extent measureShaped(QStringView text) const;

    QFontMetricsF m_metrics;
    qreal m_tabStopDistance;
    // Advances of the printable Latin-1 characters; negative for the others.
    std::array<qreal, 256> m_advance{};
};
