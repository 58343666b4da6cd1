// The dialog's start-up and shutdown: the registry flag and the presence mutex.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <string>

#include "tests/support/ProcessSupport.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "transport/CMutexSimple.h"
#include "viewer/live/CQuorvaneDlg.h"

namespace {

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
