#include "viewer/list/FoldKeys.h"

FoldMove foldMoveFor(const ScopeTree& tree, ScopeTree::Place current, bool right) {
    const ScopeTree::Id scope = tree.scopeAt(current);
    if (right) {
        if (scope == ScopeTree::kNone) return {};
        if (tree.isFolded(scope)) return {FoldMove::Kind::Unfold, scope, {}};
        return {FoldMove::Kind::GoTo, ScopeTree::kNone, tree.firstInside(scope)};
    }
    if (scope != ScopeTree::kNone && !tree.isFolded(scope)) {
        return {FoldMove::Kind::Fold, scope, {}};
    }
    const ScopeTree::Id around = tree.enclosing(current);
    if (around == ScopeTree::kNone) return {};
    return {FoldMove::Kind::GoTo, ScopeTree::kNone, tree.entryOf(around)};
}
