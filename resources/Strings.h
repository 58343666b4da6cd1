#pragma once
// The viewer's string table and the texts of its two windows.

#include "resources/resource.h"

namespace QuorvaneStrings {

inline constexpr const char* kAboutMenuItem = "&About Quorvane...";  // string IDS_ABOUTBOX

inline constexpr const char* kMainCaption = "Quorvane";
inline constexpr const char* kReverseOutput = "Reverse Output";
inline constexpr const char* kClear = "Clear";
inline constexpr const char* kClose = "Close";
inline constexpr const char* kSave = "Save";

inline constexpr const char* kAboutCaption = "About Quorvane";
inline constexpr const char* kAboutVersion = "Quorvane Version 2.0";
inline constexpr const char* kAboutMaker1 = "Made by Quorvane.";
inline constexpr const char* kAboutMaker2 = "Copyright (C) 2026 Quorvane";
inline constexpr const char* kAboutMaker3 = "Live traces on your desktop";
inline constexpr const char* kOk = "OK";

inline constexpr const char* kSaveTitle = "Save Quorvane As Tabbed Text File";
inline constexpr const char* kSaveFilter = "Tab Delimited File (*.txt)";
inline constexpr const char* kSaveDefaultSuffix = "txt";

// The string with number `id`, or an empty text when there is none.
inline const char* loadString(int id) {
    return id == IDS_ABOUTBOX ? kAboutMenuItem : "";
}

}  // namespace QuorvaneStrings
