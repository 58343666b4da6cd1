#pragma once
#include <QString>
#include <string>
#include <string_view>
#include <vector>

#include "viewer/find/LineSearch.h"

// Which lines the log list shows: every rule must let a line through. A rule keeps or hides the
// lines a find-bar search matches, or keeps or hides one sender, or keeps one program (origin).
// With no rule every line is shown. No window is needed.
class LineFilter {
  public:
    enum class Field { Sender = 1, Program = 3 };

    // Shows only the lines `search` matches (`show`), or hides them. An inactive search adds
    // nothing.
    void addSearch(const LineSearch& search, const QString& pattern, bool show);
    // Shows only the lines whose `field` is `value` (`show`), or hides them.
    void addField(Field field, std::string_view value, bool show);
    void clear() { m_rules.clear(); }
    bool isEmpty() const { return m_rules.empty(); }

    bool passes(std::string_view line) const;
    // The rules in words, for the note that says a filter is on.
    QString describe() const;

    // The `field` of a displayed line (tab separated: number, sender, time, program, entry),
    // empty when the line has fewer fields.
    static std::string_view fieldOf(std::string_view line, Field field);

  private:
    struct Rule {
        bool show = true;
        bool isSearch = false;
        Field field = Field::Sender;
        std::string value;  // the field's bytes, or the pattern for the description
        LineSearch search;
    };

    std::vector<Rule> m_rules;
};
