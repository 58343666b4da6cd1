#pragma once
#include <QRegularExpression>
#include <QString>
#include <QStringMatcher>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// What the find bar looks for: a plain text or a regular expression, with or without regard to
// case, tried against the lines of a CLogListModel. No window is needed.
//
// A plain ASCII text is looked for in a line's bytes, without making a QString of it: with case
// in any line (an ASCII byte is never part of a longer UTF-8 sequence); without case by a byte of
// it that has no case, or in a copy of the line folded to lower case for a text of letters alone.
// A line where that finds nothing and that is not ASCII throughout is searched as text (a letter
// such as the Kelvin sign folds to an ASCII one).
class LineSearch {
  public:
    // Sets what to look for. An invalid regular expression leaves the search inactive and
    // returns false, with error() saying why.
    bool setPattern(const QString& pattern, bool matchCase, bool regularExpression);
    // True when a valid, non-empty pattern is set.
    bool isActive() const { return m_active; }
    const QString& error() const { return m_error; }

    bool matches(std::string_view line) const;
    bool matches(const QString& text) const;
    // Start and length of every non-empty match in `text`, left to right.
    std::vector<std::pair<qsizetype, qsizetype>> spans(const QString& text) const;

  private:
    // Whether the bytes of `line` hold the ASCII pattern, ignoring the case of ASCII letters.
    bool holdsCaseless(std::string_view line) const;
    // The same for a pattern of letters alone, through a copy of the line in lower case.
    bool holdsFolded(std::string_view line) const;

    bool m_active = false;
    bool m_regularExpression = false;
    bool m_matchCase = false;
    // The pattern's bytes when it is a plain ASCII text (lower case without case), else empty.
    std::string m_bytes;
    // Without case, the pattern's byte looked for first, its place and its two forms (the same
    // for a byte without case).
    std::size_t m_anchor = 0;
    char m_anchorSmall = 0;
    char m_anchorCapital = 0;
    // A line folded to lower case, kept to spare an allocation per line.
    mutable std::string m_folded;
    QString m_error;
    QStringMatcher m_plain;
    QRegularExpression m_regex;
};
