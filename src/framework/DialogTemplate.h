#pragma once

#include <cstddef>
#include <cstdint>

// A dialog and its controls as data, in the form of a Windows dialog
// template: ids, kinds, captions, rectangles in dialog units and style bits
// with the Windows values, in tab order. Every backend builds its window
// from it: the Win32 one passes the styles through, others read them.
//
// The style bits are named after the Windows headers' macros (kWsTabStop for
// WS_TABSTOP), so that they never meet those macros. As there, a value can
// mean one thing on a window and another on a control.
namespace DialogStyle {

// Window styles.
inline constexpr uint32_t kWsTabStop = 0x00010000;     // WS_TABSTOP
inline constexpr uint32_t kWsMaximizeBox = 0x00010000; // WS_MAXIMIZEBOX (on the window)
inline constexpr uint32_t kWsMinimizeBox = 0x00020000; // WS_MINIMIZEBOX (on the window)
inline constexpr uint32_t kWsThickFrame = 0x00040000;  // WS_THICKFRAME
inline constexpr uint32_t kWsSysMenu = 0x00080000;     // WS_SYSMENU
inline constexpr uint32_t kWsVScroll = 0x00200000;     // WS_VSCROLL
inline constexpr uint32_t kWsBorder = 0x00800000;      // WS_BORDER
inline constexpr uint32_t kWsCaption = 0x00C00000;     // WS_CAPTION
// Extended window style: shown in the taskbar.
inline constexpr uint32_t kWsExAppWindow = 0x00040000; // WS_EX_APPWINDOW

// Dialog styles.
inline constexpr uint32_t kDsModalFrame = 0x0080;  // DS_MODALFRAME
inline constexpr uint32_t kDsSetFont = 0x0040;     // DS_SETFONT: the template names its font
inline constexpr uint32_t kDsShellFont = 0x0048;   // DS_SHELLFONT

// Edit styles.
inline constexpr uint32_t kEsMultiline = 0x0004;   // ES_MULTILINE
inline constexpr uint32_t kEsAutoVScroll = 0x0040; // ES_AUTOVSCROLL
inline constexpr uint32_t kEsAutoHScroll = 0x0080; // ES_AUTOHSCROLL
inline constexpr uint32_t kEsWantReturn = 0x1000;  // ES_WANTRETURN
inline constexpr uint32_t kEsNumber = 0x2000;      // ES_NUMBER

// Button styles.
inline constexpr uint32_t kBsPushButton = 0x0000;    // BS_PUSHBUTTON
inline constexpr uint32_t kBsDefPushButton = 0x0001; // BS_DEFPUSHBUTTON
inline constexpr uint32_t kBsAutoCheckBox = 0x0003;  // BS_AUTOCHECKBOX
inline constexpr uint32_t kBsGroupBox = 0x0007;      // BS_GROUPBOX
inline constexpr uint32_t kBsTypeMask = 0x000F;      // BS_TYPEMASK

// Static styles.
inline constexpr uint32_t kSsLeft = 0x0000; // SS_LEFT
inline constexpr uint32_t kSsIcon = 0x0003; // SS_ICON
inline constexpr uint32_t kSsTypeMask = 0x001F;

// Combo box styles.
inline constexpr uint32_t kCbsDropDownList = 0x0003; // CBS_DROPDOWNLIST
inline constexpr uint32_t kCbsSort = 0x0100;         // CBS_SORT

}  // namespace DialogStyle

// The ids every dialog shares.
namespace DialogId {
inline constexpr int kOk = 1;       // IDOK
inline constexpr int kCancel = 2;   // IDCANCEL
inline constexpr int kStatic = -1;  // IDC_STATIC: a control nobody addresses
}  // namespace DialogId

// The window class of a control.
enum class ControlClass {
    kButton,     // "Button": push buttons, check boxes, group boxes
    kEdit,       // "Edit"
    kStatic,     // "Static": text or an icon
    kComboBox,   // "ComboBox"
    kIpAddress,  // "SysIPAddress32"
};

struct ControlTemplate {
    int nId;
    ControlClass nClass;
    // The caption; null for none.
    const char* pszCaption;
    int x;
    int y;
    int cx;
    int cy;
    uint32_t nStyle;
    // SS_ICON: the icon's resource id.
    int nImageId = 0;
};

struct DialogTemplate {
    int nId;
    const char* pszCaption;
    int cx;
    int cy;
    const char* pszFont;
    int nPointSize;
    uint32_t nStyle;
    uint32_t nExStyle;
    // In tab order.
    const ControlTemplate* pControls;
    size_t nControls;

    // The control with nId, or null.
    const ControlTemplate* Control(int nControlId) const
    {
        for (size_t i = 0; i < nControls; ++i) {
            if (pControls[i].nId == nControlId)
                return &pControls[i];
        }
        return nullptr;
    }
};
