#pragma once
#include "resources/resource.h"

// The two window templates, in dialog units (converted with DialogUnits). Controls are listed in
// template order, which is also their tab order.

struct ControlTemplate {
    int id;
    const char* name;
    int x;
    int y;
    int width;
    int height;
};

namespace MainDialogTemplate {
constexpr int kWidth = 310;
constexpr int kHeight = 289;
constexpr ControlTemplate kLogList{IDC_LOG_LIST, "IDC_LOG_LIST", 6, 30, 297, 255};
constexpr ControlTemplate kReverse{IDC_REVERSE, "IDC_REVERSE", 9, 3, 66, 12};
constexpr ControlTemplate kClear{IDC_CLEAR, "IDC_CLEAR", 84, 3, 66, 12};
constexpr ControlTemplate kClose{IDC_CLOSE, "IDC_CLOSE", 237, 3, 66, 12};
constexpr ControlTemplate kSave{IDC_SAVE, "IDC_SAVE", 159, 3, 66, 12};
// Tab stops of the log list, in horizontal dialog units.
constexpr int kTabStop = 32;
}  // namespace MainDialogTemplate

namespace AboutDialogTemplate {
constexpr int kWidth = 235;
constexpr int kHeight = 55;
constexpr int kIconX = 11;
constexpr int kIconY = 17;
constexpr ControlTemplate kVersion{-1, "IDC_VERSION", 39, 10, 119, 8};
constexpr ControlTemplate kMakerLines[3] = {
    {-1, "IDC_MAKER1", 39, 18, 119, 8},
    {-1, "IDC_MAKER2", 39, 26, 119, 8},
    {-1, "IDC_MAKER3", 39, 34, 119, 8},
};
constexpr ControlTemplate kOk{IDOK, "IDOK", 178, 7, 50, 14};
}  // namespace AboutDialogTemplate

// Property under which every control carries its numeric id.
inline constexpr const char* kControlIdProperty = "controlId";
