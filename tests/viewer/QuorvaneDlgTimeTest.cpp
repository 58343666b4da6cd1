// The live window's time columns: precise times and durations drawn beside the lines, chosen from
// the context menu and remembered by the next window, while the lines and the saved file stay as
// they are.
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>

#include "tests/viewer/QuorvaneDlgFixture.h"

namespace {

using viewertest::QuorvaneDlgTest;

TraceRecord timed(std::uint32_t sequence, std::int32_t delta, const char* name,
                  std::uint32_t nanoseconds) {
    TraceRecord record = viewertest::makeRecord(name, "", "app", 42, delta);
    record.nanoseconds = nanoseconds;
    record.sequence = sequence;
    record.marker = quorvane::kPreciseTimeMarker;
    return record;
}

// Opens the list's context menu and types `keys`, one popup at a time.
void chooseFromMenu(CQuorvaneDlg& dialog, std::vector<Qt::Key> keys) {
    QTimer typist;
    typist.setInterval(20);
    QObject::connect(&typist, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            menu != nullptr && !keys.empty()) {
            const Qt::Key key = keys.front();
            keys.erase(keys.begin());
            QTest::keyClick(menu, key);
        }
    });
    typist.start();
    QWidget* viewport = dialog.logList().viewport();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                            viewport->mapToGlobal(QPoint(10, 10)));
    QCoreApplication::sendEvent(viewport, &event);
}

TEST_F(QuorvaneDlgTest, TheListShowsPreciseTimesAndDurationsChosenFromTheMenuAndRemembered) {
    post({timed(1, 1, "load", 250'000'000), timed(2, -1, "load", 262'400'000)});
    viewertest::drainNow(*dialog);
    ASSERT_EQ(shown().size(), 2u);
    // A first window shows milliseconds and durations; the lines themselves are the seed's.
    const std::string line = shown()[0];
    EXPECT_EQ(line.find('.'), std::string::npos);
    // Newest on top: row 0 is the leave, row 1 the entry; both show the scope's duration.
    std::string drawn = dialog->logList().shownText(1);
    EXPECT_NE(drawn.find("10:00:00.250\t12.4 ms\tapp"), std::string::npos) << drawn;

    chooseFromMenu(*dialog, {Qt::Key_T, Qt::Key_C});  // Precise Time > Microseconds
    EXPECT_EQ(dialog->logList().timeColumns().fractionDigits, 6);
    drawn = dialog->logList().shownText(0);
    EXPECT_NE(drawn.find("10:00:00.262400\t12.4 ms\tapp"), std::string::npos) << drawn;
    chooseFromMenu(*dialog, {Qt::Key_D});  // Durations off
    EXPECT_EQ(dialog->logList().shownText(0).find("12.4 ms"), std::string::npos);

    // The next window starts with the choice, and a save writes the lines alone.
    dialog.reset();
    dialog = std::make_unique<CQuorvaneDlg>();
    EXPECT_EQ(dialog->logList().timeColumns().fractionDigits, 6);
    EXPECT_FALSE(dialog->logList().timeColumns().durations);
    chooseFromMenu(*dialog, {Qt::Key_T, Qt::Key_O});  // Precise Time > Off
    EXPECT_FALSE(dialog->logList().timeColumns().any());
}

}  // namespace
