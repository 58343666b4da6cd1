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
// A plain ASCII text is looked for in a line's bytes, without making a QString of it, sixteen
// places at a time by the pattern's first and last bytes, each place then compared in full: with
// case that settles it (an ASCII byte is never part of a longer UTF-8 sequence); without case, a
// line where that finds nothing and that is not ASCII throughout is searched as text (a letter
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
    // Whether the bytes of `line` hold the ASCII pattern, with or without regard to the case of
    // ASCII letters.
    bool holdsBytes(std::string_view line) const;

    bool m_active = false;
    bool m_regularExpression = false;
    bool m_matchCase = false;
    // The pattern's bytes when it is a plain ASCII text (lower case without case), else empty.
    std::string m_bytes;
    QString m_error;
    QStringMatcher m_plain;
    QRegularExpression m_regex;
};
