// The live window beside other readers of its mailbox (real processes that mark themselves as
// readers), its size on the screen, and what it says after a save.
#include <gtest/gtest.h>
#include <signal.h>

#include <QScreen>
#include <QTest>
#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/ProcessSupport.h"
#include "tests/viewer/QuorvaneDlgFixture.h"
#include "transport/ReaderPresence.h"
#include "transport/TraceMailbox.h"
#include "viewer/find/LineFilter.h"
#include "viewer/live/CQuorvaneDlg.h"
#include "viewer/live/WindowPlacement.h"

namespace {

using quorvane::test::ChildProcess;
using viewertest::drainNow;
using viewertest::makeRecord;
using viewertest::QuorvaneDlgTest;
using viewertest::readFile;

// A process that runs as a reader of the viewer's mailbox called `program` until killed.
class OtherReader {
  public:
    explicit OtherReader(const char* program)
        : m_child([program](ChildProcess& self) {
              ReaderPresence reader(program, traceMailboxName());
              reader.join();
              self.signal();
              self.awaitSignal();
              return 0;
          }) {
        m_joined = m_child.awaitSignal() == 'x';
    }
    bool joined() const { return m_joined; }
    pid_t pid() const { return m_child.pid(); }
    int kill() {
        m_child.kill(SIGKILL);
        return m_child.wait();
    }

  private:
    ChildProcess m_child;
    bool m_joined = false;
};

std::unique_ptr<CQuorvaneDlg> shownDialog() {
    auto dialog = std::make_unique<CQuorvaneDlg>();
    dialog->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    return dialog;
}

TEST(QuorvaneDlgReaders, ReadersRunningAtStartAreNamedAndAnotherViewerMovesTheWindowOff) {
    const auto alone = shownDialog();
    EXPECT_EQ(alone->windowTitle().toStdString(), "Quorvane");
    EXPECT_TRUE(alone->notes().isHidden());
    const QRect aloneList = alone->logList().geometry();

    OtherReader tail("quorvane-tail");
    OtherReader viewer("quorvane-viewer");
    ASSERT_TRUE(tail.joined());
    ASSERT_TRUE(viewer.joined());
    const auto named = [](const OtherReader& reader, const char* program) {
        return QStringLiteral("%1 (pid %2)").arg(QLatin1String(program)).arg(reader.pid());
    };
    const QString names =
        tail.pid() < viewer.pid()
            ? named(tail, "quorvane-tail") + ", " + named(viewer, "quorvane-viewer")
            : named(viewer, "quorvane-viewer") + ", " + named(tail, "quorvane-tail");

    const auto beside = shownDialog();
    EXPECT_EQ(beside->windowTitle().toStdString(),
              QStringLiteral("Quorvane (also read by %1)").arg(names).toStdString());
    EXPECT_TRUE(beside->notes().isVisible());
    EXPECT_TRUE(beside->notes().said(WindowNotes::Topic::Readers).contains(names));
    EXPECT_TRUE(beside->notes().said(WindowNotes::Topic::Readers).contains("one reader only"));
    EXPECT_GT(beside->notes().geometry().top(), beside->logList().geometry().bottom())
        << "the note takes its own room under the list";
    EXPECT_LT(beside->logList().geometry().height(), aloneList.height());
    EXPECT_GT(beside->pos().x(), alone->pos().x()) << "not exactly over the first window";
    EXPECT_GT(beside->pos().y(), alone->pos().y());

    beside->notes().dismiss();
    EXPECT_TRUE(beside->notes().isHidden());
    EXPECT_EQ(beside->logList().geometry(), aloneList) << "the list gets its room back";

    EXPECT_EQ(tail.kill(), 128 + SIGKILL);
    EXPECT_EQ(viewer.kill(), 128 + SIGKILL);
    const auto afterKill = shownDialog();
    EXPECT_EQ(afterKill->windowTitle().toStdString(), "Quorvane") << "killed readers are gone";
    EXPECT_TRUE(afterKill->notes().isHidden());
    EXPECT_EQ(afterKill->pos(), alone->pos());
}

TEST(QuorvaneDlgReaders, ATailHoldingThePresenceCostsNoPausesAndTheViewerTakesOverWhenItEnds) {
    ChildProcess tail([](ChildProcess& self) {
        ReaderPresence reader("quorvane-tail", traceMailboxName(), PresenceKeeper::kMutexName);
        reader.join();
        if (!reader.holdPresence()) {
            return 1;
        }
        self.signal();
        self.awaitSignal();
        return 0;
    });
    ASSERT_EQ(tail.awaitSignal(), 'x');
    CQuorvaneDlg dialog;
    EXPECT_EQ(dialog.presence().startPauses(), 0)
        << "the tail keeps the mutex while it runs: no pauses waiting for it";
    EXPECT_FALSE(dialog.presence().holdsMutex());
    EXPECT_TRUE(dialog.presence().isRetrying());

    tail.kill(SIGKILL);
    EXPECT_EQ(tail.wait(), 128 + SIGKILL);
    EXPECT_TRUE(viewertest::waitUntil("the viewer holds the presence",
                                      [&] { return dialog.presence().holdsMutex(); }));
    EXPECT_EQ(viewertest::readRegistryFlag(), 1);
}

TEST_F(QuorvaneDlgTest, TheWindowKeepsEveryButtonWhenShrunkAndFitsItsScreen) {
    dialog->resize(40, 30);
    const QRect inside = dialog->rect();
    for (const QWidget* control :
         std::vector<const QWidget*>{&dialog->reverseCheck(), &dialog->clearButton(),
                                     &dialog->saveButton(), &dialog->closeButton()})
        EXPECT_TRUE(inside.contains(control->geometry())) << control->objectName().toStdString();
    EXPECT_GT(dialog->logList().height(), 0);

    const QRect screen = dialog->screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(dialog->geometry()));
    // A screen at twice the scale, as QT_SCALE_FACTOR=2 makes of 1024 x 768: the window and its
    // smallest size stay inside it.
    const QRect halved(0, 0, 512, 384);
    const WindowPlacement placed = placeMainWindow(QSize(dialog->width(), 2 * halved.height()),
                                                   dialog->minimumSize() * 2, halved, 20, 3, 24);
    // The frame's top left is where the window is moved to; the title bar adds to its height.
    EXPECT_TRUE(
        halved.contains(QRect(placed.geometry.topLeft(), placed.geometry.size() + QSize(0, 20))));
    EXPECT_LE(placed.minimum.height(), halved.height() - 20);
    EXPECT_EQ(placed.geometry.size().expandedTo(placed.minimum), placed.geometry.size());
}

TEST_F(QuorvaneDlgTest, AfterASaveTheNoteSaysWhereTheLinesWentAndWhatThePauseAndFilterLeft) {
    post({makeRecord("A", "", "keep", 1), makeRecord("B", "", "drop", 1),
          makeRecord("C", "", "keep", 1)});
    drainNow(*dialog);
    LineFilter filter;
    filter.addField(LineFilter::Field::Program, "drop", false);
    dialog->logList().shownRows().setFilter(filter);
    ASSERT_TRUE(viewertest::waitUntil("filter applied",
                                      [&] { return dialog->logList().shownRows().isComplete(); }));
    dialog->listPause().pause();
    post({makeRecord("D", "", "keep", 1), makeRecord("E", "", "keep", 1)});
    drainNow(*dialog);
    ASSERT_EQ(dialog->listPause().heldBack(), 2u);

    const QString path = folder.filePath(QStringLiteral("report.txt"));
    ASSERT_EQ(saveTo(path), 1);
    const std::string saved = readFile(path.toStdString());
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 3);
    EXPECT_EQ(dialog->notes().said(WindowNotes::Topic::Save).toStdString(),
              QStringLiteral("Saved 3 lines to \"%1\". Not saved: 2 lines held back by the pause "
                             "(resume, then save again to keep them). The file also holds 1 line "
                             "the window does not show (hidden by the filter).")
                  .arg(path)
                  .toStdString());
    EXPECT_TRUE(dialog->notes().isVisible());
    EXPECT_GT(dialog->notes().geometry().top(), dialog->logList().geometry().bottom());

    dialog->listPause().resume();
    dialog->logList().shownRows().setFilter({});
    const QString again = folder.filePath(QStringLiteral("again.txt"));
    ASSERT_EQ(saveTo(again), 1);
    const std::string all = readFile(again.toStdString());
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 5);
    EXPECT_EQ(dialog->notes().said(WindowNotes::Topic::Save).toStdString(),
              QStringLiteral("Saved 5 lines to \"%1\".").arg(again).toStdString());
}

}  // namespace
