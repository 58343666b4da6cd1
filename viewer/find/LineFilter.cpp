#include "viewer/find/LineFilter.h"

#include <QStringList>

#include "viewer/lines/LineText.h"

void LineFilter::addSearch(const LineSearch& search, const QString& pattern, bool show) {
    if (!search.isActive()) {
        return;
    }
    Rule rule;
    rule.show = show;
    rule.isSearch = true;
    rule.value = pattern.toStdString();
    rule.search = search;
    m_rules.push_back(std::move(rule));
}

void LineFilter::addField(Field field, std::string_view value, bool show) {
    Rule rule;
    rule.show = show;
    rule.field = field;
    rule.value = std::string(value);
    m_rules.push_back(std::move(rule));
}

bool LineFilter::passes(std::string_view line) const {
    for (const Rule& rule : m_rules) {
        const bool hit =
            rule.isSearch ? rule.search.matches(line) : fieldOf(line, rule.field) == rule.value;
        if (hit != rule.show) {
            return false;
        }
    }
    return true;
}

QString LineFilter::describe() const {
    QStringList parts;
    for (const Rule& rule : m_rules) {
        // A search's value is its pattern in UTF-8; a field's is the line's own bytes.
        const QString value =
            rule.isSearch ? QString::fromStdString(rule.value) : lineText(rule.value);
        if (rule.isSearch) {
            parts << (rule.show ? QStringLiteral("matching \"%1\"")
                                : QStringLiteral("not matching \"%1\""))
                         .arg(value);
        } else if (rule.field == Field::Sender) {
            parts << (rule.show ? QStringLiteral("sender %1") : QStringLiteral("not sender %1"))
                         .arg(value);
        } else {
            parts << (rule.show ? QStringLiteral("program %1") : QStringLiteral("not program %1"))
                         .arg(value);
        }
    }
    return parts.join(QStringLiteral(", "));
}

std::string_view LineFilter::fieldOf(std::string_view line, Field field) {
    // The first fields are a few bytes each: a plain loop beats a library search started per tab.
    int tabsToSkip = static_cast<int>(field);
    std::size_t begin = 0;
    for (std::size_t at = 0; at < line.size(); ++at) {
        if (line[at] != '\t') {
            continue;
        }
        if (tabsToSkip == 0) {
            return line.substr(begin, at - begin);
        }
        --tabsToSkip;
        begin = at + 1;
    }
    return tabsToSkip == 0 ? line.substr(begin) : std::string_view();
}
