// A steady stream of records for a few seconds: the window keeps turning its event loop and
// shows every record once, in order.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <string>
#include <thread>

#include "quorvane/Names.h"
#include "tests/support/ProcessSupport.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "transport/CMclMailbox.h"
#include "transport/TraceMailbox.h"
#include "viewer/live/CQuorvaneDlg.h"

namespace {

constexpr auto kStreamDuration = std::chrono::milliseconds(3000);
constexpr int kRecordsPerBurst = 40;
constexpr auto kPauseBetweenBursts = std::chrono::milliseconds(1);
constexpr qint64 kLongestAllowedStallMs = 200;
constexpr int kProbePeriodMs = 10;

TEST(Stream, TheEventLoopKeepsTurningAndEveryRecordIsShownOnceInOrder) {
    CQuorvaneDlg dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    // The child posts numbered records in bursts, then reports how many it posted.
    quorvane::test::ChildProcess poster([](quorvane::test::ChildProcess& self) {
        CMclMailbox mailbox(quorvane::kMailSlots, kTraceRecordSize, traceMailboxName());
        self.awaitSignal();
        TraceRecord record = viewertest::makeRecord("Tick", "", "stream", 77);
        std::uint32_t posted = 0;
        const auto end = std::chrono::steady_clock::now() + kStreamDuration;
        while (std::chrono::steady_clock::now() < end) {
            for (int i = 0; i < kRecordsPerBurst; ++i) {
                const std::string text = std::to_string(posted + 1);
                std::snprintf(record.entryText, sizeof(record.entryText), "%s", text.c_str());
                if (!mailbox.post(&record, 5000)) {
                    return 2;
                }
                ++posted;
            }
            std::this_thread::sleep_for(kPauseBetweenBursts);
        }
        // Count as 4 bytes, one signal each.
        for (int shift = 0; shift < 32; shift += 8) {
            self.signal(static_cast<char>((posted >> shift) & 0xFF));
        }
        return 0;
    });
    ASSERT_TRUE(poster.started());

    qint64 longestStall = 0;
    QElapsedTimer sinceProbe;
    QTimer probe;
    probe.setInterval(kProbePeriodMs);
    QObject::connect(&probe, &QTimer::timeout,
                     [&] { longestStall = std::max(longestStall, sinceProbe.restart()); });
    sinceProbe.start();
    probe.start();
    poster.signal();

    // Read the count while the event loop runs: the child writes it only at the end.
    std::uint32_t posted = 0;
    QElapsedTimer total;
    total.start();
    while (total.elapsed() < 3 * kStreamDuration.count() + 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(poster.pid()), &info, WEXITED | WNOHANG | WNOWAIT) !=
                0 ||
            info.si_pid != 0) {
            break;
        }
    }
    for (int shift = 0; shift < 32; shift += 8) {
        posted |= static_cast<std::uint32_t>(static_cast<unsigned char>(poster.awaitSignal()))
                  << shift;
    }
    ASSERT_EQ(poster.wait(), 0);
    ASSERT_GT(posted, 1000u);
    ASSERT_TRUE(viewertest::waitForValue(
        "lines shown", [&] { return dialog.lineCount(); }, posted, 10000));
    ASSERT_TRUE(viewertest::waitUntil(
        "the drain ends", [&] { return !dialog.isDraining(); }, 2000));
    probe.stop();

    EXPECT_LT(longestStall, kLongestAllowedStallMs);
    const CLogListModel& model = dialog.logList().model();
    ASSERT_EQ(model.size(), posted);
    // Newest on top: the bottom row is record 1.
    for (std::uint32_t number = 1; number <= posted; ++number) {
        const std::string_view line = model.line(posted - number);
        char expected[64];
        const int length = std::snprintf(expected, sizeof(expected),
                                         "%.5u\t77\t10:00:00\tstream\tTick(%u)", number, number);
        ASSERT_EQ(line, std::string_view(expected, static_cast<std::size_t>(length))) << number;
    }
    std::printf("records: %u, longest stall of the event loop: %lld ms\n", posted,
                static_cast<long long>(longestStall));
}

}  // namespace
