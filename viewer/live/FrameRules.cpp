#include "viewer/live/FrameRules.h"

#include <algorithm>

namespace {
constexpr int kListMargin = 5;
constexpr int kListGapBelowCheckBox = 10;
}  // namespace

FrameAction frameMessageAction(std::uint32_t message, std::uintptr_t wParam) {
    switch (message) {
        case FrameMessage::kSysCommand:
            // Only the exact close command ends the dialog; one with low bits set falls through
            // to the system's handling, which turns it into a close message.
            if (wParam == SysCommand::kClose) {
                return FrameAction::EndDialog;
            }
            if ((wParam & SysCommand::kMask) == SysCommand::kAboutBox) {
                return FrameAction::OpenAbout;
            }
            return FrameAction::Default;
        case FrameMessage::kPowerBroadcast:
            if (wParam == PowerEvent::kQuerySuspend || wParam == PowerEvent::kSuspend ||
                wParam == PowerEvent::kBatteryLow) {
                return FrameAction::EndDialog;
            }
            return FrameAction::Swallow;
        case FrameMessage::kClose:
            // A bare close message (from code or another program) leaves the viewer running.
            return FrameAction::Swallow;
        default:
            return FrameAction::Default;
    }
}

IconPosition minimizedIconPosition(int clientWidth, int clientHeight, int iconWidth,
                                   int iconHeight) {
    // C++ integer division truncates toward zero, as the drawing rule wants.
    return {(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

ListPlacement logListPlacement(int clientWidth, int clientHeight, int checkBoxHeight) {
    return {kListMargin, checkBoxHeight + kListGapBelowCheckBox,
            std::max(0, clientWidth - 2 * kListMargin),
            std::max(0, clientHeight - checkBoxHeight - kListGapBelowCheckBox - kListMargin)};
}
