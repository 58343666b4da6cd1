#pragma once
// Numbers of the viewer's windows, controls, strings and icon. The control ids are also the
// names tests and accessibility tools find the widgets by.

constexpr int IDD_ABOUTBOX = 100;
constexpr int IDS_ABOUTBOX = 101;
constexpr int IDD_QUORVANE_DIALOG = 102;
constexpr int IDR_MAINFRAME = 128;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDC_LOG_LIST = 1001;
constexpr int IDC_REVERSE = 1003;
constexpr int IDC_CLEAR = 1004;
constexpr int IDC_CLOSE = 1005;
constexpr int IDC_SAVE = 1006;

// System command of the About item.
constexpr unsigned IDM_ABOUTBOX = 0x0010;
