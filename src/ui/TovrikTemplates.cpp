#include "ui/TovrikTemplates.h"

#include <iterator>

#include "ui/CStringTable.h"
#include "ui/Resource.h"

namespace {

using namespace DialogStyle;

constexpr ControlClass kButton = ControlClass::kButton;
constexpr ControlClass kEdit = ControlClass::kEdit;
constexpr ControlClass kStatic = ControlClass::kStatic;

// In tab order.
const ControlTemplate kMainControls[] = {
    {IDC_EDIT_PORT, kEdit, nullptr, 145, 14, 40, 14, kEsNumber | kEsAutoHScroll | kWsBorder | kWsTabStop},
    {IDC_BUTTON_START, kButton, CStringTable::kStart, 257, 7, 50, 14, kBsDefPushButton | kWsTabStop},
    // The captions below are wider than their first rectangles, which cut
    // them off in a CJK font: this one grows to the left, clear of the
    // address control; the check boxes to the right, clear of their
    // neighbours.
    {DialogId::kStatic, kStatic, "目标地址:", 4, 17, 37, 8, kSsLeft},
    // No ES_WANTRETURN: Enter in it presses the default button.
    {IDC_EDIT_CONTENT, kEdit, nullptr, 15, 62, 289, 124,
     kEsMultiline | kEsAutoVScroll | kWsVScroll | kWsBorder | kWsTabStop},
    {DialogId::kStatic, kButton, "发送内容", 7, 49, 306, 144, kBsGroupBox},
    {IDC_BUTTON_CLEAR, kButton, "清除内容", 257, 22, 50, 14, kBsPushButton | kWsTabStop},
    {IDC_BUTTON_IMPORT, kButton, "导入文件", 257, 38, 50, 14, kBsPushButton | kWsTabStop},
    // The height includes the drop-down list.
    {IDC_COMBO_SENDTYPE, ControlClass::kComboBox, nullptr, 188, 14, 63, 132,
     kCbsDropDownList | kCbsSort | kWsVScroll | kWsTabStop},
    {IDC_IPADDRESS_TARGET, ControlClass::kIpAddress, nullptr, 42, 14, 100, 15, kWsTabStop},
    {IDC_CHECK_LOOP, kButton, "是否循环发送", 124, 33, 61, 10, kBsAutoCheckBox | kWsTabStop},
    {IDC_CHECK_MODIFYTIME, kButton, "是否修改时间", 190, 33, 61, 10, kBsAutoCheckBox | kWsTabStop},
    {IDC_CHECK_HEXMODE, kButton, "是否为十六进制模式", 15, 33, 85, 10, kBsAutoCheckBox | kWsTabStop},
};

const ControlTemplate kAboutControls[] = {
    {DialogId::kStatic, kStatic, nullptr, 14, 14, 21, 20, kSsIcon, IDR_MAINFRAME},
    // The version is filled in when the box opens.
    {IDC_STATIC_VERSION, kStatic, nullptr, 42, 14, 114, 8, kSsLeft},
    {DialogId::kOk, kButton, "确定", 113, 41, 50, 14, kBsDefPushButton | kWsTabStop},
};

}  // namespace

namespace TovrikTemplates {

const DialogTemplate kMainDialog = {
    IDD_TOVRIK_DIALOG, "Velmar模拟定时发送工具", 320, 200, "MS Shell Dlg", 9,
    kDsShellFont | kWsCaption | kWsSysMenu | kWsMinimizeBox | kWsMaximizeBox | kWsThickFrame, kWsExAppWindow,
    kMainControls, std::size(kMainControls),
};

const DialogTemplate kAboutBox = {
    IDD_ABOUTBOX, "关于 Tovrik", 170, 62, "MS Shell Dlg", 9, kDsShellFont | kDsModalFrame | kWsCaption | kWsSysMenu,
    0, kAboutControls, std::size(kAboutControls),
};

}  // namespace TovrikTemplates
