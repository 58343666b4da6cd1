#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetrics>

#include "viewer/live/FrameRules.h"
#include "viewer/windows/DialogUnits.h"

namespace {

TEST(FrameRules, ExactCloseCommandEndsTheDialogButOneWithLowBitsDoesNot) {
    EXPECT_EQ(frameMessageAction(0x0112, 0xF060), FrameAction::EndDialog);
    for (std::uintptr_t command = 0xF061; command <= 0xF06F; ++command) {
        EXPECT_EQ(frameMessageAction(0x0112, command), FrameAction::Default) << command;
    }
}

TEST(FrameRules, SystemCommandsSixteenToThirtyOneOpenTheAboutBox) {
    for (std::uintptr_t command = 16; command <= 31; ++command) {
        EXPECT_EQ(frameMessageAction(0x0112, command), FrameAction::OpenAbout) << command;
    }
    EXPECT_EQ(frameMessageAction(0x0112, 15), FrameAction::Default);
    EXPECT_EQ(frameMessageAction(0x0112, 32), FrameAction::Default);
    EXPECT_EQ(frameMessageAction(0x0112, 0xF020), FrameAction::Default);  // minimise
}

TEST(FrameRules, SuspendQuerySuspendAndLowBatteryEndTheDialogOtherPowerNoticesAreSwallowed) {
    EXPECT_EQ(frameMessageAction(0x0218, 0), FrameAction::EndDialog);
    EXPECT_EQ(frameMessageAction(0x0218, 4), FrameAction::EndDialog);
    EXPECT_EQ(frameMessageAction(0x0218, 9), FrameAction::EndDialog);
    for (std::uintptr_t event : {1u, 2u, 3u, 5u, 6u, 7u, 8u, 10u, 18u, 0x8013u}) {
        EXPECT_EQ(frameMessageAction(0x0218, event), FrameAction::Swallow) << event;
    }
}

TEST(FrameRules, BareCloseMessageIsSwallowedAndOtherMessagesGetDefaultHandling) {
    EXPECT_EQ(frameMessageAction(0x0010, 0), FrameAction::Swallow);
    EXPECT_EQ(frameMessageAction(0x0113, 1313), FrameAction::Default);  // a timer message
    EXPECT_EQ(frameMessageAction(0x0005, 0), FrameAction::Default);     // a size message
}

TEST(FrameRules, MinimisedIconIsCentredWithTruncationTowardZero) {
    const IconPosition wide = minimizedIconPosition(160, 31, 32, 32);
    EXPECT_EQ(wide.x, 64);
    EXPECT_EQ(wide.y, 0);
    const IconPosition small = minimizedIconPosition(30, 30, 32, 32);
    EXPECT_EQ(small.x, 0);
    EXPECT_EQ(small.y, 0);
    const IconPosition tiny = minimizedIconPosition(20, 10, 32, 32);
    EXPECT_EQ(tiny.x, -5);  // (20 - 32 + 1) / 2 = -11 / 2
    EXPECT_EQ(tiny.y, -10);
}

TEST(FrameRules, LogListKeepsFivePixelMarginsAndStartsTenPixelsBelowTheCheckBox) {
    const ListPlacement placement = logListPlacement(600, 400, 20);
    EXPECT_EQ(placement.x, 5);
    EXPECT_EQ(placement.y, 30);
    EXPECT_EQ(placement.width, 590);
    EXPECT_EQ(placement.height, 365);
    const ListPlacement cramped = logListPlacement(8, 30, 20);
    EXPECT_EQ(cramped.width, 0);
    EXPECT_EQ(cramped.height, 0);
}

TEST(DialogUnitsTest, ConvertsWithAQuarterOfTheAverageWidthAndAnEighthOfTheHeight) {
    const DialogUnits units(6, 13);
    EXPECT_EQ(units.toPixelsX(310), 465);
    EXPECT_EQ(units.toPixelsY(289), 470);  // 469.6 rounds up
    EXPECT_EQ(units.toPixelsX(66), 99);
    EXPECT_EQ(units.toPixelsY(12), 20);  // 19.5 rounds away from zero
    EXPECT_EQ(units.toPixels(6, 30, 297, 255), QRect(9, 49, 446, 414));

    const DialogUnits fromFont = DialogUnits::fromFont(QFont());
    EXPECT_GT(fromFont.baseUnitX(), 0);
    EXPECT_EQ(fromFont.baseUnitY(), QFontMetrics(QFont()).height());
}

}  // namespace
