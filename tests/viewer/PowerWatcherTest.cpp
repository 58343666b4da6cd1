// The desktop's power notices, sent on a private system bus the test owns.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>
#include <cstdio>
#include <string>
#include <string_view>

#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/live/CQuorvaneDlg.h"
#include "viewer/live/FrameRules.h"
#include "viewer/live/PowerWatcher.h"

namespace {

using viewertest::waitForValue;
using viewertest::waitUntil;

constexpr const char* kOwnerConnection = "power-notices";

QDBusConnection owner() {
    return QDBusConnection(QString::fromLatin1(kOwnerConnection));
}

void sendPrepareForSleep(bool start) {
    QDBusMessage message = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
        QStringLiteral("PrepareForSleep"));
    message << start;
    ASSERT_TRUE(owner().send(message));
}

void sendWarningLevel(std::uint32_t level) {
    QDBusMessage message = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/UPower/devices/DisplayDevice"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
    QVariantMap changed;
    changed.insert(QStringLiteral("WarningLevel"), QVariant::fromValue(level));
    message << QStringLiteral("org.freedesktop.UPower.Device") << changed << QStringList();
    ASSERT_TRUE(owner().send(message));
}

TEST(PowerWatcherTest, SuspendAndLowBatteryBecomePowerBroadcasts) {
    PowerWatcher watcher;
    ASSERT_TRUE(watcher.isWatching());
    QSignalSpy broadcasts(&watcher, &PowerWatcher::powerBroadcast);
    const auto count = [&] { return broadcasts.count(); };
    sendPrepareForSleep(true);
    ASSERT_TRUE(waitForValue("broadcasts after a suspend", count, 1));
    EXPECT_EQ(broadcasts.at(0).at(0).value<std::uintptr_t>(), PowerEvent::kSuspend);
    sendPrepareForSleep(false);
    ASSERT_TRUE(waitForValue("broadcasts after a resume", count, 2));
    EXPECT_EQ(broadcasts.at(1).at(0).value<std::uintptr_t>(), PowerEvent::kResumeSuspend);
    const std::uint32_t levels[] = {1, 2, 3, 4, 5, 6};
    const std::uintptr_t expected[] = {10, 10, 9, 9, 9, 10};
    for (std::size_t i = 0; i < std::size(levels); ++i) {
        sendWarningLevel(levels[i]);
        ASSERT_TRUE(
            waitForValue("broadcasts after a warning level", count, static_cast<int>(3 + i)))
            << levels[i];
        EXPECT_EQ(broadcasts.last().at(0).value<std::uintptr_t>(), expected[i]) << levels[i];
    }
}

TEST(PowerWatcherTest, SuspendEndsTheViewerAndAResumeNoticeDoesNot) {
    CQuorvaneDlg dialog;
    dialog.show();
    ASSERT_TRUE(dialog.isWatchingPower());
    sendPrepareForSleep(false);
    sendWarningLevel(2);
    QTest::qWait(300);
    EXPECT_FALSE(dialog.hasEnded());
    sendPrepareForSleep(true);
    EXPECT_TRUE(waitUntil("the viewer ends on a suspend", [&] { return dialog.hasEnded(); }));
}

TEST(PowerWatcherTest, LowBatteryEndsTheViewer) {
    CQuorvaneDlg dialog;
    dialog.show();
    sendWarningLevel(PowerWatcher::kWarningCritical);
    EXPECT_TRUE(waitUntil("the viewer ends on a low battery", [&] { return dialog.hasEnded(); }));
}

// Starts a bus daemon of our own and answers with its address; the daemon dies with the test.
std::string startPrivateBus(pid_t& daemon) {
    int out[2];
    if (::pipe(out) != 0) {
        return {};
    }
    daemon = ::fork();
    if (daemon == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address=1",
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    std::string address;
    char c = 0;
    while (::read(out[0], &c, 1) == 1 && c != '\n') {
        address += c;
    }
    ::close(out[0]);
    return address;
}

}  // namespace

int main(int argc, char** argv) {
    // Listing the tests needs no bus.
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--gtest_list_tests") {
            ::testing::InitGoogleTest(&argc, argv);
            return RUN_ALL_TESTS();
        }
    }
    pid_t daemon = -1;
    const std::string address = startPrivateBus(daemon);
    if (address.empty()) {
        std::fprintf(stderr, "cannot start dbus-daemon\n");
        return 1;
    }
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    viewertest::prepareEnvironment(argv[0]);
    QApplication application(argc, argv);
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromStdString(address),
                                                        QString::fromLatin1(kOwnerConnection));
    if (!bus.registerService(QStringLiteral("org.freedesktop.login1")) ||
        !bus.registerService(QStringLiteral("org.freedesktop.UPower"))) {
        std::fprintf(stderr, "cannot own the power services on the private bus\n");
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    QDBusConnection::disconnectFromBus(QString::fromLatin1(kOwnerConnection));
    ::kill(daemon, SIGTERM);
    ::waitpid(daemon, nullptr, 0);
    viewertest::cleanUpEnvironment();
    return result;
}
