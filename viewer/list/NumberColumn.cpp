#include "viewer/list/NumberColumn.h"

#include <QList>
#include <QString>

#include "viewer/lines/CLogListModel.h"

bool NumberColumn::note(std::string_view line, TabbedText& text) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos || tab == 0) {
        return false;
    }
    const QString field = QString::fromLatin1(line.data(), static_cast<qsizetype>(tab));
    const qreal stop = text.gridStopAfter(text.measure(field, 0).width);
    // Numbers that fit before the first fixed stop change nothing, as before.
    if (stop <= text.gridStopAfter(0) || stop <= m_stop) {
        return false;
    }
    m_stop = stop;
    text.setFirstStop(stop);
    return true;
}

void NumberColumn::reset(TabbedText& text) {
    m_stop = 0;
    text.setFirstStop(0);
}

void NumberColumn::remeasure(const CLogListModel& model, TabbedText& text) {
    reset(text);
    if (model.size() > 0) {
        note(model.line(0), text);
        note(model.line(model.size() - 1), text);
    }
}

void NumberColumn::applyTo(QTextOption& option) const {
    if (m_stop > 0) {
        option.setTabs({QTextOption::Tab(m_stop, QTextOption::LeftTab)});
    }
}
