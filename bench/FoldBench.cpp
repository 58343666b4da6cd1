// Folding benchmark: the outermost scope of a 1,000,000-line trace folded and unfolded in the
// real log list (CLogListView, offscreen) by the keys a user presses (Left on its entry, Right
// on it again), against the filter that hides the same lines (its sender) applied and turned
// off, in both orders of the list. Each is run turn by turn of the event loop, the list
// repainted after every turn, and timed to its first screen (the rows in sight as they end up,
// painted), to the end of its steps, and by its longest turn: the gap the event loop had.
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScrollBar>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchReport.h"
#include "records/DepthTable.h"
#include "records/LineFormatter.h"
#include "records/TraceRecord.h"
#include "viewer/find/LineFilter.h"
#include "viewer/find/ShownRows.h"
#include "viewer/lines/CLogListModel.h"
#include "viewer/list/CLogListView.h"

namespace {

constexpr std::uint32_t kDefaultLines = 1'000'000;
constexpr int kDefaultRounds = 3;
constexpr std::uint32_t kTraced = 7;  // the sender whose outermost scope is folded
constexpr std::uint32_t kBeside = 9;  // a sender beside it, every tenth line
constexpr int kListWidth = 1000;
constexpr int kListHeight = 700;
constexpr double kTargetMs = 100;
// A realistic text: the mix of the other benchmarks is about 300 bytes a line.
const std::string kPadding(180, 'x');

TraceRecord record(const char* name, const std::string& text, std::uint32_t sender,
                   std::int32_t delta) {
    TraceRecord made{};
    std::snprintf(made.entryName, sizeof made.entryName, "%s", name);
    std::snprintf(made.entryText, sizeof made.entryText, "%s", text.c_str());
    std::snprintf(made.originName, sizeof made.originName, "%s", "bench/fold");
    made.senderKey = sender;
    made.depthDelta = delta;
    made.timestamp = 36000;
    return made;
}

// main() around everything of kTraced: steps of nested calls and notes, a line of kBeside every
// tenth line, main's leave last.
void fillTrace(CLogListModel& model, std::uint32_t lines, bool onTop) {
    DepthTable depths;
    LineFormatter formatter(depths);
    const auto add = [&](const TraceRecord& r, std::uint32_t number) {
        model.stageLine(formatter.formatLine(r, number), onTop);
        formatter.storeDepth();
    };
    add(record("main", "start " + kPadding, kTraced, 1), 1);
    static const char* const kCycle[] = {"step+", "note", "read+", "note", "read-", "step-"};
    std::uint32_t cycle = 0;
    for (std::uint32_t number = 2; number < lines; ++number) {
        if (number % 10 == 0) {
            add(record("tick", std::to_string(number) + kPadding, kBeside, 0), number);
            continue;
        }
        const std::string kind = kCycle[cycle++ % std::size(kCycle)];
        const std::int32_t delta = kind.ends_with('+') ? 1 : kind.ends_with('-') ? -1 : 0;
        const std::string name = delta == 0 ? kind : kind.substr(0, kind.size() - 1);
        add(record(name.c_str(), delta < 0 ? std::string() : std::to_string(number) + kPadding,
                   kTraced, delta),
            number);
    }
    add(record("main", "", kTraced, -1), lines);
    model.commitStaged();
}

// The lines in sight, as model rows.
std::vector<std::size_t> rowsInSight(const CLogListView& list) {
    std::vector<std::size_t> rows;
    const ShownRows& shown = list.shownRows();
    const std::size_t count =
        static_cast<std::size_t>(list.viewport()->height() / list.rowHeight());
    for (std::size_t row = list.topRow(); row < shown.size() && rows.size() < count; ++row) {
        rows.push_back(shown.modelRow(row));
    }
    return rows;
}

struct Turns {
    double firstScreenMs = 0;
    double finishedMs = 0;
    double longestTurnMs = 0;
};

// Runs `act`, then turns the event loop until the rows are worked out, painting after each turn.
Turns timeTurns(CLogListView& list, const std::function<void()>& act) {
    std::vector<std::pair<double, std::vector<std::size_t>>> screens;
    QElapsedTimer clock;
    clock.start();
    act();
    list.viewport()->repaint();
    Turns turns;
    turns.longestTurnMs = clock.nsecsElapsed() / 1e6;
    screens.emplace_back(turns.longestTurnMs, rowsInSight(list));
    while (!list.shownRows().isComplete()) {
        const double before = clock.nsecsElapsed() / 1e6;
        QApplication::processEvents();
        list.viewport()->repaint();
        const double after = clock.nsecsElapsed() / 1e6;
        turns.longestTurnMs = std::max(turns.longestTurnMs, after - before);
        screens.emplace_back(after, rowsInSight(list));
    }
    turns.finishedMs = clock.nsecsElapsed() / 1e6;
    // The first screen is the first of those that stayed as the last one.
    std::size_t first = screens.size() - 1;
    while (first > 0 && screens[first - 1].second == screens.back().second) --first;
    turns.firstScreenMs = screens[first].first;
    return turns;
}

void press(CLogListView& list, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent down(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(&list, &down);
}

struct Figures {
    Samples first, finished, longest;
    void add(const Turns& turns) {
        first.add(turns.firstScreenMs);
        finished.add(turns.finishedMs);
        longest.add(turns.longestTurnMs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const auto lines =
        static_cast<std::uint32_t>(environmentNumber("QUORVANE_BENCH_FOLD_LINES", kDefaultLines));
    const int rounds = benchRounds(kDefaultRounds);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    BenchReport report(argc, argv);
    int qtArgc = 1;
    QApplication application(qtArgc, argv);

    LineFilter hideTraced;
    hideTraced.addField(LineFilter::Field::Sender, std::to_string(kTraced), false);
    double worst[4] = {};  // fold first screen, fold turn, unfold first screen, unfold turn
    for (const bool onTop : {false, true}) {
        Figures fold, unfold, filterOn, filterOff;
        CLogListView list;
        list.resize(kListWidth, kListHeight);
        list.show();
        fillTrace(list.model(), lines, onTop);
        for (int round = 0; round < rounds; ++round) {
            // The user goes to the oldest line, main's entry, and folds it with Left: at the top
            // of the list, or at its end when the newest lines are on top.
            press(list, onTop ? Qt::Key_End : Qt::Key_Home, Qt::ControlModifier);
            QApplication::processEvents();
            fold.add(timeTurns(list, [&] { press(list, Qt::Key_Left); }));
            if (list.shownRows().size() != (lines - 1) / 10 + 1) {
                report.note("round " + std::to_string(round + 1) + ": the fold left other rows");
            }
            unfold.add(timeTurns(list, [&] { press(list, Qt::Key_Right); }));
            press(list, Qt::Key_Home, Qt::ControlModifier);
            filterOn.add(timeTurns(list, [&] { list.shownRows().setFilter(hideTraced); }));
            filterOff.add(timeTurns(list, [&] { list.shownRows().setFilter({}); }));
        }
        const std::string order = onTop ? "newest on top" : "oldest on top";
        report.section("fold the outermost scope of " + std::to_string(lines) + " lines (" +
                       std::to_string(lines / 10) + " of another sender), " + order + "; " +
                       std::to_string(rounds) + " rounds");
        report.comparison("fold (Left): first screen", fold.first, "filter hiding its sender",
                          filterOn.first, Unit::Milliseconds);
        report.comparison("fold (Left): all steps", fold.finished, "filter hiding its sender",
                          filterOn.finished, Unit::Milliseconds);
        report.comparison("fold (Left): longest turn", fold.longest, "filter hiding its sender",
                          filterOn.longest, Unit::Milliseconds);
        report.comparison("unfold (Right): first screen", unfold.first, "filter turned off",
                          filterOff.first, Unit::Milliseconds);
        report.comparison("unfold (Right): longest turn", unfold.longest, "filter turned off",
                          filterOff.longest, Unit::Milliseconds);
        worst[0] = std::max(worst[0], fold.first.median());
        worst[1] = std::max(worst[1], fold.longest.median());
        worst[2] = std::max(worst[2], unfold.first.median());
        worst[3] = std::max(worst[3], unfold.longest.median());
    }
    report.result(resultLine("fold_first_screen_ms", worst[0], kTargetMs, Better::Lower));
    report.result(resultLine("fold_longest_turn_ms", worst[1], kTargetMs, Better::Lower));
    report.result(resultLine("unfold_first_screen_ms", worst[2], kTargetMs, Better::Lower));
    report.result(resultLine("unfold_longest_turn_ms", worst[3], kTargetMs, Better::Lower));
    report.finish();
    return 0;
}
