#pragma once

// Resource ids of the program: dialog templates, the icon, the string table,
// the main window's controls, the About command and the worker's notices.
enum TovrikResource : int {
    IDD_ABOUTBOX = 100,
    IDS_ABOUTBOX = 101,
    IDD_TOVRIK_DIALOG = 102,
    IDP_SOCKETS_INIT_FAILED = 103,
    IDS_START = 104,
    IDS_STOP = 105,
    IDS_DATA_TOO_LARGE = 106,
    IDS_NO_SEND_THREAD = 107,
    IDR_MAINFRAME = 128,

    IDC_IPADDRESS_TARGET = 1000,
    IDC_EDIT_PORT = 1001,
    IDC_BUTTON_START = 1002,
    IDC_EDIT_CONTENT = 1003,
    IDC_BUTTON_CLEAR = 1004,
    IDC_BUTTON_IMPORT = 1005,
    IDC_COMBO_SENDTYPE = 1006,
    IDC_CHECK_LOOP = 1007,
    IDC_CHECK_MODIFYTIME = 1008,
    IDC_CHECK_HEXMODE = 1009,
    // The About box's version line.
    IDC_STATIC_VERSION = 1010,

    // System-menu command of the About box (low four bits clear).
    IDM_ABOUTBOX = 0x0010,

    // WM_USER + 1 and + 2.
    WM_SEND_END = 0x0401,
    WM_SEND_TICK = 0x0402,
};
