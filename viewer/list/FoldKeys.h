#pragma once
#include "viewer/lines/ScopeTree.h"

// What Left and Right do to the current line, as in a tree view. Left folds the scope the line
// opens, or goes to the entry of the scope around the line; Right unfolds a folded scope, or
// goes into an open one, to its first line. Nothing, when the line is in no scope: the list then
// scrolls sideways as before.
struct FoldMove {
    enum class Kind { None, Fold, Unfold, GoTo };
    Kind kind = Kind::None;
    ScopeTree::Id scope = ScopeTree::kNone;  // Fold, Unfold
    ScopeTree::Place place;                  // GoTo
};

FoldMove foldMoveFor(const ScopeTree& tree, ScopeTree::Place current, bool right);
