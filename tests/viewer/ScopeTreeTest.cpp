#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/viewer/ScopedTrace.h"
#include "viewer/lines/ScopeTree.h"

namespace {

using viewertest::ScopedTrace;
using viewertest::TraceScope;
using Place = ScopeTree::Place;

// Where the lines go: all at the bottom, all on top (Reverse Output), or the first half at the
// bottom and the rest on top.
enum class Sides { Bottom, Top, Mixed };

Place placeOf(std::size_t index, std::size_t count, Sides sides) {
    switch (sides) {
        case Sides::Bottom:
            return {false, index};
        case Sides::Top:
            return {true, index};
        case Sides::Mixed:
            return index < count / 2 ? Place{false, index} : Place{true, index - count / 2};
    }
    return {};
}

// The lines the tree is told: as the live window shows them, or as a saved log holds them.
std::vector<std::string> linesFor(const ScopedTrace& trace, ScopeTree::Rule rule) {
    std::vector<std::string> lines;
    for (const std::string& line : trace.lines) {
        lines.push_back(rule == ScopeTree::Rule::Names ? viewertest::collapsedTabs(line) : line);
    }
    return lines;
}

// A scope the rule can see: something besides its leave inside, and (by names) its leave came.
bool isVisibleScope(const TraceScope& scope, ScopeTree::Rule rule) {
    const bool left = scope.leave != TraceScope::kNoLeave;
    if (rule == ScopeTree::Rule::Names && !left) return false;
    return scope.inside.size() > (left ? 1u : 0u);
}

std::vector<bool> hiddenBy(const ScopedTrace& trace, const std::vector<std::size_t>& folded) {
    std::vector<bool> hidden(trace.lines.size(), false);
    for (const std::size_t scope : folded) {
        for (const std::size_t line : trace.scopes[scope].inside) hidden[line] = true;
    }
    return hidden;
}

struct Told {
    ScopeTree tree;
    std::size_t count;
    Sides sides;
    Place place(std::size_t index) const { return placeOf(index, count, sides); }
    ScopeTree::Id idOf(const TraceScope& scope) const { return tree.scopeAt(place(scope.entry)); }
};

void tell(Told& told, const std::vector<std::string>& lines, std::size_t from, std::size_t to) {
    for (std::size_t index = from; index < to; ++index)
        told.tree.add(lines[index], told.place(index));
}

void expectHidden(const Told& told, const std::vector<bool>& expected, const std::string& when) {
    for (std::size_t line = 0; line < expected.size(); ++line) {
        ASSERT_EQ(told.tree.isHidden(told.place(line)), expected[line])
            << when << ", line " << line;
    }
}

constexpr std::size_t kLines = 600;

TEST(ScopeTree, ScopesWorkedOutFromTheLinesAreTheTracesInEveryOrderByBothRules) {
    const ScopedTrace trace = viewertest::randomScopedTrace(kLines, 7);
    for (const auto rule : {ScopeTree::Rule::Indentation, ScopeTree::Rule::Names}) {
        const std::vector<std::string> lines = linesFor(trace, rule);
        for (const Sides sides : {Sides::Bottom, Sides::Top, Sides::Mixed}) {
            SCOPED_TRACE(testing::Message() << "rule " << static_cast<int>(rule) << ", sides "
                                            << static_cast<int>(sides));
            Told told{ScopeTree(rule), kLines, sides};
            tell(told, lines, 0, kLines);
            std::vector<bool> isEntry(kLines, false);
            std::size_t visible = 0;
            for (const TraceScope& scope : trace.scopes) {
                const ScopeTree::Id id = told.idOf(scope);
                ASSERT_EQ(id != ScopeTree::kNone, isVisibleScope(scope, rule)) << scope.entry;
                if (id == ScopeTree::kNone) continue;
                ++visible;
                isEntry[scope.entry] = true;
                EXPECT_EQ(told.tree.held(id), scope.inside.size()) << scope.entry;
                EXPECT_EQ(told.tree.firstInside(id).position, told.place(scope.inside[0]).position);
                EXPECT_EQ(told.tree.entryOf(id).onTop, told.place(scope.entry).onTop);
                if (rule == ScopeTree::Rule::Indentation) {
                    EXPECT_EQ(told.tree.depth(id), scope.depth) << scope.entry;
                    EXPECT_EQ(told.tree.isOpen(id), scope.leave == TraceScope::kNoLeave);
                }
            }
            EXPECT_EQ(told.tree.scopeCount(), visible);
            // Every line's innermost scope, by the generator's account.
            for (std::size_t line = 0; line < kLines; ++line) {
                if (!isEntry[line]) {
                    EXPECT_EQ(told.tree.scopeAt(told.place(line)), ScopeTree::kNone) << line;
                }
                const TraceScope* innermost = nullptr;
                for (const TraceScope& scope : trace.scopes) {
                    if (!isVisibleScope(scope, rule)) continue;
                    const bool holds = std::find(scope.inside.begin(), scope.inside.end(), line) !=
                                       scope.inside.end();
                    if (holds && (innermost == nullptr || scope.entry > innermost->entry)) {
                        innermost = &scope;
                    }
                }
                const ScopeTree::Id expected =
                    innermost == nullptr ? ScopeTree::kNone : told.idOf(*innermost);
                ASSERT_EQ(told.tree.enclosing(told.place(line)), expected) << line;
            }
        }
    }
}

TEST(ScopeTree, FoldsHideExactlyTheLinesInsideThemThroughAnyFoldingAndUnfolding) {
    const ScopedTrace trace = viewertest::randomScopedTrace(kLines, 11, 4);
    for (const auto rule : {ScopeTree::Rule::Indentation, ScopeTree::Rule::Names}) {
        Told told{ScopeTree(rule), kLines, Sides::Mixed};
        tell(told, linesFor(trace, rule), 0, kLines);
        std::vector<std::size_t> scopes;
        for (std::size_t index = 0; index < trace.scopes.size(); ++index) {
            if (isVisibleScope(trace.scopes[index], rule)) scopes.push_back(index);
        }
        ASSERT_GT(scopes.size(), 20u);
        std::vector<std::size_t> folded;
        std::mt19937 random(3);
        for (int change = 0; change < 150; ++change) {
            const std::size_t scope = scopes[random() % scopes.size()];
            const auto at = std::find(folded.begin(), folded.end(), scope);
            const ScopeTree::Id id = told.idOf(trace.scopes[scope]);
            if (at == folded.end()) {
                ASSERT_TRUE(told.tree.fold(id));
                folded.push_back(scope);
            } else {
                ASSERT_TRUE(told.tree.unfold(id));
                folded.erase(at);
            }
            ASSERT_EQ(told.tree.anyFolded(), !folded.empty());
            expectHidden(told, hiddenBy(trace, folded), "change " + std::to_string(change));
        }
        // Folding what is folded, or unfolding what is not, changes nothing.
        ASSERT_FALSE(folded.empty());
        EXPECT_FALSE(told.tree.fold(told.idOf(trace.scopes[folded[0]])));
        told.tree.unfoldAll();
        EXPECT_FALSE(told.tree.unfold(told.idOf(trace.scopes[folded[0]])));
    }
}

TEST(ScopeTree, LinesArrivingInsideAFoldedScopeAreHiddenAsTheyArriveAndOthersAreNot) {
    // Sender 1 opens parse; sender 2 goes on beside it; parse's lines and its leave fold away.
    const std::vector<std::string> lines = {
        "00001\t1\t10:00:00\tprog\tparse(a)",  "00002\t2\t10:00:00\tprog\tother(b)",
        "00003\t1\t10:00:00\tprog\t\tnote(c)", "00004\t1\t10:00:00\tprog\t\tread(d)",
        "00005\t2\t10:00:00\tprog\tother(e)",  "00006\t1\t10:00:00\tprog\t\t\tnote(f)",
        "00007\t1\t10:00:00\tprog\t\tread()",  "00008\t1\t10:00:00\tprog\tparse()",
        "00009\t1\t10:00:00\tprog\tafter(g)",
    };
    for (const Sides sides : {Sides::Bottom, Sides::Top}) {
        Told told{ScopeTree(), lines.size(), sides};
        tell(told, lines, 0, 3);
        const ScopeTree::Id parse = told.tree.scopeAt(told.place(0));
        ASSERT_NE(parse, ScopeTree::kNone);
        EXPECT_TRUE(told.tree.isOpen(parse));
        ASSERT_TRUE(told.tree.fold(parse));
        const std::vector<bool> hidden = {false, false, true, true, false, true, true, true, false};
        for (std::size_t index = 3; index < lines.size(); ++index) {
            EXPECT_EQ(told.tree.add(lines[index], told.place(index)), hidden[index]) << index;
        }
        expectHidden(told, hidden, "after the arrivals");
        EXPECT_FALSE(told.tree.isOpen(parse));
        EXPECT_EQ(told.tree.held(parse), 5u);
        // The inner scope folded and the outer one opened: only the inner one's lines stay hidden.
        const ScopeTree::Id read = told.tree.scopeAt(told.place(3));
        ASSERT_NE(read, ScopeTree::kNone);
        EXPECT_EQ(told.tree.parent(read), parse);
        ASSERT_TRUE(told.tree.fold(read));
        ASSERT_TRUE(told.tree.unfold(parse));
        expectHidden(told, {false, false, false, false, false, true, true, false, false},
                     "parse open, read folded");
        EXPECT_EQ(told.tree.enclosing(told.place(6)), read);
        EXPECT_EQ(told.tree.enclosing(told.place(8)), ScopeTree::kNone);
    }
}

TEST(ScopeTree, FoldBelowADepthHoldsForScopesThatOpenLaterUntilEverythingIsUnfolded) {
    const ScopedTrace trace = viewertest::randomScopedTrace(kLines, 5);
    for (const Sides sides : {Sides::Bottom, Sides::Top}) {
        Told told{ScopeTree(), kLines, sides};
        tell(told, trace.lines, 0, kLines / 2);
        told.tree.foldBelow(1);
        EXPECT_EQ(told.tree.foldLevel(), 1);
        tell(told, trace.lines, kLines / 2, kLines);
        std::vector<std::size_t> deep;
        for (std::size_t index = 0; index < trace.scopes.size(); ++index) {
            const TraceScope& scope = trace.scopes[index];
            if (isVisibleScope(scope, ScopeTree::Rule::Indentation) && scope.depth >= 1) {
                deep.push_back(index);
                EXPECT_TRUE(told.tree.isFolded(told.idOf(scope))) << scope.entry;
            }
        }
        ASSERT_GT(deep.size(), 10u);
        expectHidden(told, hiddenBy(trace, deep), "below depth 1");
        EXPECT_GE(told.tree.deepest(), 2);
        told.tree.unfoldAll();
        EXPECT_FALSE(told.tree.anyFolded());
        EXPECT_EQ(told.tree.foldLevel(), -1);
        expectHidden(told, std::vector<bool>(kLines, false), "unfolded");
    }
}

TEST(ScopeTree, TheFirstLineAfterAnEntryIsFoundOnEachSide) {
    const ScopedTrace trace = viewertest::randomScopedTrace(40, 9, 1);
    Told told{ScopeTree(), trace.lines.size(), Sides::Mixed};
    tell(told, trace.lines, 0, trace.lines.size());
    const std::size_t half = trace.lines.size() / 2;
    for (const TraceScope& scope : trace.scopes) {
        const ScopeTree::Id id = told.idOf(scope);
        if (id == ScopeTree::kNone) continue;
        // Bottom holds lines 0 .. half - 1 at their index, top the rest from position 0.
        EXPECT_EQ(told.tree.firstPositionAfter(id, false), std::min(scope.entry + 1, half));
        EXPECT_EQ(told.tree.firstPositionAfter(id, true),
                  scope.entry + 1 > half ? scope.entry + 1 - half : 0);
    }
    EXPECT_EQ(told.tree.lineCount(false), half);
    EXPECT_EQ(told.tree.lineCount(true), trace.lines.size() - half);
    told.tree.clear();
    EXPECT_EQ(told.tree.lineCount(), 0u);
    EXPECT_EQ(told.tree.scopeCount(), 0u);
}

}  // namespace
