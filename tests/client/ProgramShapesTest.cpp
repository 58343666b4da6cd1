// Traced programs of everyday shapes (tests/client/shapes), run as child processes against the
// shared library, with a real quorvane-tail reading their mailbox: a static tracer, a plugin
// unloaded with its tracer, daemons that fork, programs that close every descriptor, a fork
// during the first trace call, a signal handler that traces, threads cancelled mid-trace.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/ProcessSupport.h"

namespace {

using quorvane::test::run;
using quorvane::test::Subprocess;
using quorvane::test::uniqueName;
using Environment = std::vector<std::pair<std::string, std::string>>;

// A private runtime directory and mailbox name per test, so that each sees only its own objects.
class ProgramShapes : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "shapes-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_runtime = pattern;
        m_environment = {{"XDG_RUNTIME_DIR", m_runtime}, {"QUORVANE_MAILBOX", uniqueName("shape")}};
    }
    void TearDown() override { std::filesystem::remove_all(m_runtime); }

    Subprocess::Result shape(const std::vector<std::string>& arguments) {
        std::vector<std::string> command{QUORVANE_SHAPES};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return run(command, {}, m_environment);
    }

    bool send(const std::string& entryName) {
        return run({QUORVANE_SEND, "--timeout=2000", entryName}, {}, m_environment).status == 0;
    }

    // Starts quorvane-tail and waits until it is seen reading; what it printed meanwhile is
    // kept for entriesUntil().
    std::unique_ptr<Subprocess> startTail() {
        auto tail = std::make_unique<Subprocess>(
            std::vector<std::string>{QUORVANE_TAIL, "--idle=5000"}, m_environment);
        m_early.clear();
        for (int attempt = 0; attempt < 100; ++attempt) {
            run({QUORVANE_SEND, "--timeout=0", "ready"}, {}, m_environment);
            while (std::optional<std::string> line =
                       tail->readLine(std::chrono::milliseconds(50))) {
                if (line->find("\tready(") != std::string::npos) return tail;
                m_early.push_back(entryOf(*line));
            }
        }
        ADD_FAILURE() << "quorvane-tail never read";
        return tail;
    }

    static std::string entryOf(const std::string& line) {
        return line.substr(line.rfind('\t') + 1);
    }

    // The "name(text)" part of each line the tail prints until `last` appears or it goes idle.
    std::vector<std::string> entriesUntil(Subprocess& tail, const std::string& last) {
        std::vector<std::string> entries = std::move(m_early);
        m_early.clear();
        if (contains(entries, last)) return entries;
        while (std::optional<std::string> line = tail.readLine()) {
            std::string entry = entryOf(*line);
            if (entry.rfind("ready(", 0) == 0) continue;
            entries.push_back(entry);
            if (entry == last) break;
        }
        return entries;
    }

    static std::string joined(const std::vector<std::string>& entries) {
        std::string text;
        for (const std::string& entry : entries) text += entry + "\n";
        return text;
    }

    static bool contains(const std::vector<std::string>& entries, const std::string& entry) {
        return std::find(entries.begin(), entries.end(), entry) != entries.end();
    }

    // Whether /proc/locks shows an exclusive flock on `path`.
    static bool lockHeld(const std::string& path) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) return false;
        std::ifstream locks("/proc/locks");
        const std::string inode = ":" + std::to_string(info.st_ino) + " ";
        for (std::string line; std::getline(locks, line);)
            if (line.find("FLOCK") != std::string::npos &&
                line.find("WRITE") != std::string::npos && line.find(inode) != std::string::npos)
                return true;
        return false;
    }

    static void pause() { ::usleep(20'000); }

    std::string m_runtime;
    Environment m_environment;
    std::vector<std::string> m_early;
};

TEST_F(ProgramShapes, StaticTracersEndCleanlyInTheProgramAndInAnUnloadedPlugin) {
    auto tail = startTail();
    const Subprocess::Result program = shape({"static"});
    EXPECT_EQ(program.status, 0) << program.err;
    const Subprocess::Result host = run({QUORVANE_PLUGIN_HOST, QUORVANE_PLUGIN}, {}, m_environment);
    EXPECT_EQ(host.status, 0) << host.err;
    ASSERT_TRUE(send("end"));
    const std::vector<std::string> entries = entriesUntil(*tail, "end()");
    EXPECT_TRUE(contains(entries, "main(hello 42)"));
    EXPECT_TRUE(contains(entries, "plugin(first load)"));
    EXPECT_TRUE(contains(entries, "plugin(second load)"));
}

// The daemon's child must keep the mailbox alive after its parent has gone, whichever ends first;
// a tail started only after the first exit still gets what the survivor traces.
TEST_F(ProgramShapes, ADaemonThatForksKeepsItsMailboxWhicheverSideEndsFirst) {
    const Subprocess::Result parent = shape({"daemon-parent-first"});
    ASSERT_EQ(parent.status, 0) << parent.err;
    auto tail = startTail();
    std::vector<std::string> entries = entriesUntil(*tail, "child(40)");
    EXPECT_TRUE(contains(entries, "daemon(before fork)"));
    EXPECT_TRUE(contains(entries, "child(40)"));

    tail.reset();  // a second reader would take part of the records
    Subprocess childFirst({QUORVANE_SHAPES, "daemon-child-first"}, m_environment);
    ASSERT_EQ(childFirst.readLine(), "child-exited");
    tail = startTail();
    entries = entriesUntil(*tail, "parent(40)");
    EXPECT_TRUE(contains(entries, "child(traced and gone)")) << joined(entries);
    EXPECT_TRUE(contains(entries, "parent(40)"));
    EXPECT_EQ(childFirst.finish().status, 0);
}

// A program that closes, or puts /dev/null over, every descriptor the library holds must leave
// the mailbox that a running tail reads in place: what others send afterwards still arrives.
TEST_F(ProgramShapes, ClosingOrReplacingTheLibrarysDescriptorsLeavesTheLiveMailboxAlone) {
    auto tail = startTail();
    for (const char* closer : {"close-all", "dup2-all"}) {
        const Subprocess::Result program = shape({closer});
        EXPECT_EQ(program.status, 0) << closer << ": " << program.err;
        const std::string sent = std::string("sent-after-") + closer;
        ASSERT_TRUE(send(sent));
        const std::vector<std::string> entries = entriesUntil(*tail, sent + "()");
        EXPECT_TRUE(contains(entries, "closer(before)")) << closer << "\n" << joined(entries);
        EXPECT_TRUE(contains(entries, sent + "()")) << closer << "\n" << joined(entries);
    }
}

TEST_F(ProgramShapes, AForkDuringTheFirstTraceCallLeavesBothProcessesTracing) {
    const Subprocess::Result program = shape({"fork-first-trace", "25"});
    EXPECT_EQ(program.status, 0) << program.out << program.err;
    EXPECT_NE(program.out.find("failures=0"), std::string::npos) << program.out;
}

// Every line is whole (no entry name of one record with the text of another, no slot announced
// but never filled) and each side's count of successful posts is what the tail shows.
TEST_F(ProgramShapes, ASignalHandlerTracingIntoItsThreadsOwnTraceCallsCorruptsNothing) {
    auto tail = startTail();
    // Read while it runs: a tail left unread would fill its pipe and then the ring.
    Subprocess running({QUORVANE_SHAPES, "signal-handler", "150000"}, m_environment);
    std::map<std::string, long> malformed;
    long mainLines = 0;
    long handlerLines = 0;
    for (const std::string& entry : entriesUntil(*tail, "signal(end)")) {
        if (entry == "handler(tick)") {
            ++handlerLines;
        } else if (entry.rfind("main(loop ", 0) == 0 && entry.back() == ')') {
            ++mainLines;
        } else if (entry != "signal(end)") {
            ++malformed[entry];
        }
    }
    const Subprocess::Result program = running.finish();
    ASSERT_EQ(program.status, 0) << program.err;
    long mainPosted = -1;
    long handlerPosted = -1;
    ASSERT_EQ(std::sscanf(program.out.c_str(), "main=%ld handler=%ld", &mainPosted, &handlerPosted),
              2)
        << program.out;
    EXPECT_TRUE(malformed.empty())
        << malformed.size() << " kinds, first: " << malformed.begin()->first;
    EXPECT_EQ(mainLines, mainPosted);
    EXPECT_EQ(handlerLines, handlerPosted);
    EXPECT_GT(handlerPosted, 0) << "the timer never fired outside a trace call";
}

TEST_F(ProgramShapes, ThreadsCancelledInsideTraceCallsLeaveNoLockAndDoNotAbort) {
    const Subprocess::Result program = shape({"cancelled-threads", "8"});
    EXPECT_EQ(program.status, 0) << program.out << program.err;
    EXPECT_NE(program.out.find("rounds=8"), std::string::npos) << program.out;
}

// A refused private directory, or the limit of open files, is named in the reason tracing is off.
TEST_F(ProgramShapes, TheReasonTracingIsOffNamesTheDirectoryOrTheLimit) {
    const std::string directory = m_runtime + "/quorvane";
    ASSERT_EQ(::mkdir(directory.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(directory.c_str(), 0755), 0);
    Subprocess::Result program = shape({"reason"});
    EXPECT_NE(program.out.find(directory + " is open to other users (mode 0755)"),
              std::string::npos)
        << program.out;
    std::filesystem::remove(directory);
    std::filesystem::create_directory_symlink(m_runtime, directory);
    program = shape({"reason"});
    EXPECT_NE(program.out.find(directory + " is a symbolic link"), std::string::npos)
        << program.out;
    std::filesystem::remove(directory);
    if (::geteuid() == 0) {
        ASSERT_EQ(::mkdir(directory.c_str(), 0700), 0);
        ASSERT_EQ(::chown(directory.c_str(), 65534, 65534), 0);
        program = shape({"reason"});
        EXPECT_NE(program.out.find(directory + " belongs to user 65534"), std::string::npos)
            << program.out;
        std::filesystem::remove(directory);
    }
    program = shape({"reason", "5"});
    EXPECT_NE(program.out.find("at most 5 (ulimit -n)"), std::string::npos) << program.out;

    // A process stopped while it holds the name space's lock is named, not the mailbox's guard.
    std::filesystem::create_directories(directory);
    Subprocess holder({"/usr/bin/flock", "--exclusive", directory + "/.lock", "sleep", "5"});
    for (int attempt = 0; attempt < 100 && !lockHeld(directory + "/.lock"); ++attempt) pause();
    program = shape({"reason"});
    EXPECT_NE(program.out.find("the lock " + directory +
                               "/.lock of the shared objects is held by "
                               "process"),
              std::string::npos)
        << program.out;
    holder.signal(SIGKILL);
}

}  // namespace
