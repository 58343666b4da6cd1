#include "viewer/list/FoldMenu.h"

#include <QMenu>
#include <algorithm>

#include "viewer/list/CLogListView.h"

void FoldMenu::addMenuAction(QMenu& menu) {
    ShownRows& shown = m_list.shownRows();
    const ScopeTree& scopes = shown.scopes();
    const int deepest = std::min(scopes.deepest(), kDeepestOffered);
    if (deepest < 0 && !scopes.anyFolded()) {
        return;
    }
    menu.addSeparator();
    QMenu* below = menu.addMenu(QStringLiteral("Fold &below depth"));
    for (int depth = 0; depth <= deepest; ++depth) {
        QAction* action = below->addAction(QStringLiteral("&%1").arg(depth), &m_list,
                                           [&shown, depth] { shown.foldBelow(depth); });
        action->setCheckable(true);
        action->setChecked(scopes.foldLevel() == depth);
    }
    QAction* unfold = menu.addAction(QStringLiteral("&Unfold everything"), &m_list,
                                     [&shown] { shown.unfoldAll(); });
    unfold->setEnabled(scopes.anyFolded());
}
