#pragma once
#include <cstdint>

#include "viewer/list/ListPlacement.h"

// The rules by which the main window reacts to frame messages, kept apart from Qt so that the
// message numbers the desktop events are mapped to can be checked directly.

namespace FrameMessage {
constexpr std::uint32_t kClose = 0x0010;           // WM_CLOSE
constexpr std::uint32_t kSysCommand = 0x0112;      // WM_SYSCOMMAND
constexpr std::uint32_t kPowerBroadcast = 0x0218;  // WM_POWERBROADCAST
}  // namespace FrameMessage

namespace SysCommand {
constexpr std::uintptr_t kMask = 0xFFF0;      // the low four bits are the system's own
constexpr std::uintptr_t kClose = 0xF060;     // SC_CLOSE
constexpr std::uintptr_t kAboutBox = 0x0010;  // IDM_ABOUTBOX
}  // namespace SysCommand

namespace PowerEvent {
constexpr std::uintptr_t kQuerySuspend = 0;        // PBT_APMQUERYSUSPEND
constexpr std::uintptr_t kSuspend = 4;             // PBT_APMSUSPEND
constexpr std::uintptr_t kResumeSuspend = 7;       // PBT_APMRESUMESUSPEND
constexpr std::uintptr_t kBatteryLow = 9;          // PBT_APMBATTERYLOW
constexpr std::uintptr_t kPowerStatusChange = 10;  // PBT_APMPOWERSTATUSCHANGE
}  // namespace PowerEvent

enum class FrameAction {
    EndDialog,  // the main dialog ends, and with it the viewer
    Swallow,    // answered without any effect
    OpenAbout,  // the About box opens
    Default,    // the toolkit's own handling
};

// What the main dialog does with `message` carrying `wParam`.
FrameAction frameMessageAction(std::uint32_t message, std::uintptr_t wParam);

struct IconPosition {
    int x;
    int y;
};

// Where the icon is drawn in the client area of a minimised window: centred, rounding the
// half-pixel up and truncating toward zero when the icon is larger than the area.
IconPosition minimizedIconPosition(int clientWidth, int clientHeight, int iconWidth,
                                   int iconHeight);

// Where the log list goes in a client area: 5 pixels from the left, right and bottom edges, its
// top 10 pixels below the check box's height. Sizes never go below zero.
ListPlacement logListPlacement(int clientWidth, int clientHeight, int checkBoxHeight);
