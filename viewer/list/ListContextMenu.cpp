#include "viewer/list/ListContextMenu.h"

#include <QContextMenuEvent>
#include <string>
#include <utility>

#include "viewer/lines/LineText.h"
#include "viewer/list/CLogListView.h"
#include "viewer/list/ContextMenuItem.h"

ListContextMenu::ListContextMenu(CLogListView& list, std::vector<ContextMenuItem*> items)
    : m_list(list), m_items(std::move(items)), m_folds(list) {}

bool ListContextMenu::exec(QWidget& window, const QContextMenuEvent& event,
                           const QString& aboutText) {
    QMenu menu(&window);
    QAction* about = aboutText.isEmpty() ? nullptr : menu.addAction(aboutText);
    for (ContextMenuItem* item : m_items) {
        item->addMenuAction(menu);
    }
    const std::ptrdiff_t row = rowOf(window, event);
    addFilterActions(menu, row);
    m_folds.addMenuAction(menu);
    // The line the menu acts on is marked while it is open.
    m_list.setMenuRow(row);
    QAction* chosen = menu.exec(placeOf(event, row));
    m_list.setMenuRow(-1);
    return chosen != nullptr && chosen == about;
}

QPoint ListContextMenu::placeOf(const QContextMenuEvent& event, std::ptrdiff_t row) const {
    if (event.reason() != QContextMenuEvent::Keyboard) {
        return event.globalPos();
    }
    // By key the menu opens under the start of the current line, or at the list's corner.
    QWidget* viewport = m_list.viewport();
    const QRect rect = row >= 0 ? m_list.rowRect(static_cast<std::size_t>(row)) : QRect();
    const QPoint at = rect.isEmpty() ? QPoint(0, 0) : rect.bottomLeft();
    return viewport->mapToGlobal(at + QPoint(m_list.textMargin(), 0));
}

std::ptrdiff_t ListContextMenu::rowOf(QWidget& window, const QContextMenuEvent& event) const {
    if (event.reason() == QContextMenuEvent::Keyboard) {
        return m_list.currentRow();
    }
    QWidget* viewport = m_list.viewport();
    const QPoint at = viewport->mapFrom(&window, event.pos());
    return viewport->rect().contains(at) ? m_list.rowAt(at.y()) : -1;
}

void ListContextMenu::addFilterActions(QMenu& menu, std::ptrdiff_t row) {
    ShownRows& shown = m_list.shownRows();
    const bool onLine = row >= 0 && static_cast<std::size_t>(row) < shown.size();
    if (!onLine && !shown.isFiltering()) {
        return;
    }
    menu.addSeparator();
    if (onLine) {
        const std::string_view line = shown.line(static_cast<std::size_t>(row));
        const auto addRule = [&](const QString& text, LineFilter::Field field, bool show) {
            const std::string value(LineFilter::fieldOf(line, field));
            // An ampersand in a name is shown, not taken for a mnemonic.
            const QString shownValue =
                lineText(value).replace(QLatin1Char('&'), QStringLiteral("&&"));
            QAction* action =
                menu.addAction(text.arg(shownValue), &m_list, [&shown, field, value, show] {
                    LineFilter filter = shown.filter();
                    filter.addField(field, value, show);
                    shown.setFilter(std::move(filter));
                });
            action->setEnabled(!value.empty());
        };
        addRule(QStringLiteral("Show only &sender %1"), LineFilter::Field::Sender, true);
        addRule(QStringLiteral("&Hide sender %1"), LineFilter::Field::Sender, false);
        addRule(QStringLiteral("Show only pr&ogram %1"), LineFilter::Field::Program, true);
    }
    QAction* everything = menu.addAction(QStringLiteral("Show &everything"), &m_list,
                                         [&shown] { shown.setFilter({}); });
    everything->setEnabled(shown.isFiltering());
}
