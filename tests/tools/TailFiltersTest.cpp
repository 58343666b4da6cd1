// quorvane-tail's filters and colour, as real processes: the records are posted by a real
// quorvane-send, and the colour is judged on a real terminal (a pseudo-terminal from script(1)).

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "records/TraceRecord.h"
#include "tests/support/ProcessSupport.h"
#include "tests/tools/ToolTestSupport.h"
#include "tests/tools/ToolsFixture.h"

namespace {

using quorvane::test::run;
using quorvane::test::Subprocess;
using tooltest::makeRecord;
using tooltest::ToolsTest;
using Environment = std::vector<std::pair<std::string, std::string>>;

class TailFiltersTest : public ToolsTest {
  protected:
    // Posts the records again and returns quorvane-tail's run over them with `options`.
    Subprocess::Result tail(const std::vector<std::string>& options, Environment extra = {}) {
        const std::string raw(reinterpret_cast<const char*>(m_records.data()),
                              m_records.size() * sizeof(TraceRecord));
        EXPECT_EQ(run({QUORVANE_SEND, "--raw"}, raw, environment()).status, 0);
        std::vector<std::string> command{QUORVANE_TAIL, "--idle=300"};
        command.insert(command.end(), options.begin(), options.end());
        Environment env = environment();
        env.insert(env.end(), extra.begin(), extra.end());
        return run(command, {}, env);
    }

    // The unfiltered lines with these numbers (1-based), as the tail prints them.
    std::string linesNumbered(const std::vector<int>& numbers) const {
        std::vector<std::string> all;
        std::istringstream stream(tooltest::formatAll(m_records));
        for (std::string line; std::getline(stream, line);) all.push_back(line + '\n');
        std::string picked;
        for (const int number : numbers) picked += all.at(number - 1);
        return picked;
    }

    const std::vector<TraceRecord> m_records{
        makeRecord("open", "fd=3", "alpha", 1, 1, 1700000000),
        makeRecord("read", "n=10", "beta", 0, 2, 1700000001),
        makeRecord("read", "n=20", "alpha", 0, 1, 1700000002),
        makeRecord("write", "n=5", "gamma", 0, 3, 1700000003),
        makeRecord("open", "", "alpha", -1, 1, 1700000004),
    };
};

TEST_F(TailFiltersTest, FiltersPickBySenderOriginAndPatternKeepingNumbersAndDepths) {
    struct Case {
        std::vector<std::string> options;
        std::vector<int> lines;
    };
    const std::vector<Case> cases{
        {{"--follow"}, {1, 2, 3, 4, 5}},
        {{"--sender=1"}, {1, 3, 5}},
        {{"--sender", "1", "--sender=3"}, {1, 3, 4, 5}},
        {{"--origin=beta", "--origin", "gamma"}, {2, 4}},
        {{"--grep", "^read\\(n=[0-9]+\\)$"}, {2, 3}},
        {{"--grep=n=2", "--grep=write"}, {3, 4}},
        {{"--grep=^open\\(\\)"}, {5}},
        {{"-f", "--sender=1", "--grep=read"}, {3}},
        {{"--sender=1", "--invert"}, {2, 4}},
        {{"--origin=alpha", "--count=2"}, {1, 3}},
    };
    for (const Case& each : cases) {
        const Subprocess::Result result = tail(each.options);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, linesNumbered(each.lines)) << each.options.front();
    }
    for (const std::vector<std::string>& refused : {std::vector<std::string>{"--grep=("},
                                                    {"--sender=x"},
                                                    {"--color=sometimes"},
                                                    {"--format=trace-event", "--sender=1"}}) {
        const Subprocess::Result bad = [&] {
            std::vector<std::string> command{QUORVANE_TAIL};
            command.insert(command.end(), refused.begin(), refused.end());
            return run(command, {}, environment());
        }();
        EXPECT_EQ(bad.status, tooltest::kExitUsage) << refused.front();
        EXPECT_NE(bad.err.find("quorvane-tail: "), std::string::npos) << bad.err;
    }
}

TEST_F(TailFiltersTest, ColourFollowsTheTerminalNoColorAndTheChoice) {
    const std::regex escape("\x1b\\[[0-9;]*m");
    const std::string plain = linesNumbered({1, 2, 3, 4, 5});

    const Subprocess::Result always = tail({"--color=always"}, {{"NO_COLOR", "1"}});
    ASSERT_EQ(always.status, 0) << always.err;
    EXPECT_EQ(std::regex_replace(always.out, escape, ""), plain);
    EXPECT_NE(always.out.find("\x1b[1mopen\x1b[0m(fd=3)"), std::string::npos) << always.out;
    // Senders 1 and 2 in different colours, the same sender always in the same one.
    const std::regex sender("\t(\x1b\\[[0-9;]*m)([0-9]+)\x1b\\[0m\t");
    std::map<std::string, std::string> colourOf;
    for (auto it = std::sregex_iterator(always.out.begin(), always.out.end(), sender);
         it != std::sregex_iterator(); ++it) {
        const auto [place, added] = colourOf.emplace((*it)[2].str(), (*it)[1].str());
        EXPECT_EQ(place->second, (*it)[1].str()) << "sender " << (*it)[2].str();
    }
    ASSERT_EQ(colourOf.size(), 3u);
    EXPECT_NE(colourOf["1"], colourOf["2"]);

    EXPECT_EQ(tail({}).out, plain);  // a pipe is no terminal
    EXPECT_EQ(tail({"--color=always", "--format=jsonl"}).out.find('\x1b'), std::string::npos);

    // On a terminal: script(1) runs the tail on a pseudo-terminal and copies what it wrote.
    const auto onTerminal = [&](const std::string& options, const Environment& extra) {
        Environment env = environment();
        env.emplace_back("TERM", "xterm");
        env.insert(env.end(), extra.begin(), extra.end());
        const std::string raw(reinterpret_cast<const char*>(m_records.data()),
                              m_records.size() * sizeof(TraceRecord));
        EXPECT_EQ(run({QUORVANE_SEND, "--raw"}, raw, env).status, 0);
        const std::string command = std::string(QUORVANE_TAIL) + " --idle=300 " + options;
        const Subprocess::Result shown =
            run({QUORVANE_SCRIPT, "-qec", command, "/dev/null"}, {}, env);
        EXPECT_EQ(shown.status, 0) << shown.err;
        EXPECT_NE(shown.out.find("read"), std::string::npos) << shown.out;
        return shown.out.find('\x1b') != std::string::npos;
    };
    EXPECT_TRUE(onTerminal("", {{"NO_COLOR", ""}}));
    EXPECT_FALSE(onTerminal("", {{"NO_COLOR", "1"}}));
    EXPECT_FALSE(onTerminal("--color=auto", {{"TERM", "dumb"}}));
    EXPECT_FALSE(onTerminal("--color=never", {}));
    EXPECT_TRUE(onTerminal("--color=always", {{"NO_COLOR", "1"}}));
}

}  // namespace
