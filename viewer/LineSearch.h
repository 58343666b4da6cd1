#pragma once
#include <QRegularExpression>
#include <QString>
#include <QStringMatcher>
#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

class CLogListModel;

// What the find bar looks for: a plain text or a regular expression, with or without regard to
// case, tried against the lines of a CLogListModel in screen order. No window is needed.
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

    struct Found {
        std::ptrdiff_t row = -1;  // -1: no line matches
        bool wrapped = false;     // the search went past the last (or first) row to find it
    };
    // The first matching row after `from` (before it when !forward), wrapping around the ends.
    // A `from` of -1 starts at the top going forward, at the bottom going backward.
    Found find(const CLogListModel& model, std::ptrdiff_t from, bool forward) const;

  private:
    bool m_active = false;
    bool m_regularExpression = false;
    QString m_error;
    QStringMatcher m_plain;
    QRegularExpression m_regex;
};
