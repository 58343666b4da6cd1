// The dialog's start-up and shutdown: the registry flag, the presence mutex and the mailbox.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ProcessSupport.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "transport/CMutexSimple.h"
#include "viewer/live/CQuorvaneDlg.h"

namespace {

// The object file behind the mailbox's section, as this process maps it: the only mapping of an
// object file that starts past the file's header page. Empty when there is none, or several.
std::filesystem::path mailboxSectionFile() {
    static const std::regex objectFile("o-[0-9a-f]{32}-[0-9]+");
    std::ifstream maps("/proc/self/maps");
    std::filesystem::path found;
    for (std::string entry; std::getline(maps, entry);) {
        std::istringstream fields(entry);
        std::string range, permissions, offset, device, inode, path;
        fields >> range >> permissions >> offset >> device >> inode >> path;
        if (offset != "00001000" ||
            !std::regex_match(std::filesystem::path(path).filename().string(), objectFile)) {
            continue;
        }
        if (!found.empty() && found != path) {
            return {};
        }
        found = path;
    }
    return found;
}

// File events in the order they happened, across every folder watched.
class FileEvents {
  public:
    FileEvents() : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    FileEvents(const FileEvents&) = delete;
    FileEvents& operator=(const FileEvents&) = delete;
    ~FileEvents() { ::close(m_fd); }

    bool watch(const std::filesystem::path& folder, std::uint32_t mask) {
        return ::inotify_add_watch(m_fd, folder.c_str(), mask) >= 0;
    }
    // "removed NAME" and "renamed into NAME", oldest first, read without waiting.
    std::vector<std::string> read() {
        std::vector<std::string> events;
        alignas(inotify_event) char buffer[16384];
        for (ssize_t length; (length = ::read(m_fd, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                const std::string name = event->len > 0 ? event->name : "";
                events.push_back(((event->mask & IN_DELETE) != 0 ? "removed " : "renamed into ") +
                                 name);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return events;
    }

  private:
    int m_fd;
};

// Each case starts from a registry of its own, where the flag is absent.
class QuorvaneDlgLifetimeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(registryFolder.isValid());
        if (const char* previous = std::getenv("XDG_CONFIG_HOME")) {
            previousFolder = previous;
        }
        ::setenv("XDG_CONFIG_HOME", registryFolder.path().toLocal8Bit().constData(), 1);
    }
    void TearDown() override { ::setenv("XDG_CONFIG_HOME", previousFolder.c_str(), 1); }

    QTemporaryDir registryFolder;
    std::string previousFolder;
};

TEST_F(QuorvaneDlgLifetimeTest, RegistryFlagIsSetWhileRunningAndZeroOnceTheOnlyViewerEnds) {
    ASSERT_EQ(viewertest::readRegistryFlag(), -1);
    {
        CQuorvaneDlg dialog;
        EXPECT_EQ(viewertest::readRegistryFlag(), 1);
    }
    EXPECT_EQ(viewertest::readRegistryFlag(), 0) << "an absent flag comes back as 0";

    // A flag left set, by a viewer that was killed or by anything else, is kept while this
    // viewer runs and cleared when it ends: no other viewer holds the presence mutex.
    for (const std::uint32_t left : {1u, 7u}) {
        viewertest::writeRegistryFlag(left);
        {
            CQuorvaneDlg dialog;
            EXPECT_EQ(viewertest::readRegistryFlag(), left);
        }
        EXPECT_EQ(viewertest::readRegistryFlag(), 0) << left;
    }
}

TEST_F(QuorvaneDlgLifetimeTest, AtTheEndTheMailboxIsClosedBeforeTheFlagSaysNoViewerRuns) {
    auto dialog = std::make_unique<CQuorvaneDlg>();
    ASSERT_EQ(viewertest::readRegistryFlag(), 1);
    // This process alone holds the mailbox, so closing it removes its section's file.
    const std::filesystem::path section = mailboxSectionFile();
    ASSERT_FALSE(section.empty()) << "no mailbox section found in /proc/self/maps";
    FileEvents events;
    ASSERT_TRUE(events.watch(section.parent_path(), IN_DELETE));
    // The flag is written beside its file and renamed over it.
    const std::filesystem::path registry =
        std::filesystem::path(registryFolder.path().toStdString()) / "quorvane" / "registry";
    ASSERT_TRUE(events.watch(registry, IN_MOVED_TO));
    for (const auto& entry : std::filesystem::recursive_directory_iterator(registry)) {
        if (entry.is_directory()) {
            ASSERT_TRUE(events.watch(entry.path(), IN_MOVED_TO));
        }
    }

    dialog.reset();
    EXPECT_EQ(viewertest::readRegistryFlag(), 0);
    const std::vector<std::string> seen = events.read();
    const auto sectionRemoved =
        std::find(seen.begin(), seen.end(), "removed " + section.filename().string());
    const auto flagWritten = std::find_if(seen.begin(), seen.end(), [](const std::string& event) {
        return event.rfind("renamed into ", 0) == 0;
    });
    ASSERT_NE(sectionRemoved, seen.end());
    ASSERT_NE(flagWritten, seen.end());
    EXPECT_LT(sectionRemoved, flagWritten)
        << "the flag said no viewer runs while it held the mailbox";
}

TEST_F(QuorvaneDlgLifetimeTest, PresenceMutexIsHeldForOtherProcessesWhileTheDialogLives) {
    auto otherProcessObtains = [] {
        quorvane::test::ChildProcess child([](quorvane::test::ChildProcess&) {
            CMutexSimple mutex;
            return mutex.getMutex(PresenceKeeper::kMutexName) ? 1 : 0;
        });
        return child.wait() == 1;
    };
    {
        CQuorvaneDlg dialog;
        EXPECT_FALSE(otherProcessObtains());
    }
    EXPECT_TRUE(otherProcessObtains());
}

}  // namespace
