#include <iterator>

#include "browser/browser_resources.h"

namespace {

constexpr uint32_t kComboStyle = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
constexpr uint32_t kEditStyle = WS_BORDER | WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL;

// In tab order.
const ControlTemplate kControls[] = {
    {IDC_MACRO, ControlKind::kEdit, "", 57, 7, 232, 13, kEditStyle},
    {IDC_ADDRESS, ControlKind::kEdit, "", 57, 23, 232, 13, kEditStyle},
    {IDC_TREE, ControlKind::kTreeView, "", 11, 43, 279, 134,
     WS_BORDER | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT},
    {IDC_POLLING, ControlKind::kPushButton, "&Polling", 301, 113, 50, 14, WS_TABSTOP},
    {IDC_CLEAR_OPTIONS, ControlKind::kPushButton, "&Clear options", 301, 130, 50, 14, WS_TABSTOP},
    {IDC_STATIC, ControlKind::kStatic, "Binding options", 301, 48, 51, 8, WS_GROUP},
    {IDC_BINDING, ControlKind::kComboBox, "", 301, 58, 51, 62, kComboStyle},
    {IDOK, ControlKind::kPushButton, "&OK", 38, 181, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP},
    {IDCANCEL, ControlKind::kPushButton, "Cancel", 90, 181, 50, 14, WS_TABSTOP},
    {IDC_REFRESH, ControlKind::kPushButton, "&Refresh", 142, 181, 50, 14, WS_TABSTOP},
    {IDC_STATIC, ControlKind::kGroupBox, "", 296, 40, 61, 32, 0},
    {IDC_STATIC, ControlKind::kStatic, "Types options", 301, 79, 51, 8, WS_GROUP},
    {IDC_TYPES, ControlKind::kComboBox, "", 301, 89, 51, 62, kComboStyle},
    {IDC_STATIC, ControlKind::kGroupBox, "", 296, 73, 61, 32, 0},
    {IDC_STATIC, ControlKind::kStatic, "Macro", 12, 7, 44, 13, WS_GROUP | SS_CENTERIMAGE},
    {IDC_STATIC, ControlKind::kStatic, "Gate address", 11, 23, 45, 13, WS_GROUP | SS_CENTERIMAGE},
};

// The entries' indices are the option numbers of the address composition.
const char* const kBindingEntries[] = {"Bounded", "Implicit", "Explicit", "App. Host"};
const char* const kTypesEntries[] = {"Integer", "Real", "Discrete", "Raw", "Binary"};

const ComboInit kComboInit[] = {
    {IDC_BINDING, kBindingEntries, std::size(kBindingEntries)},
    {IDC_TYPES, kTypesEntries, std::size(kTypesEntries)},
};

const DialogTemplate kBrowser = {
    IDD_BROWSER,
    "LonWorks browser",
    "MS Sans Serif",
    8,
    368,
    202,
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE | DS_3DLOOK,
    WS_EX_APPWINDOW,
    kControls,
    std::size(kControls),
    kComboInit,
    std::size(kComboInit),
};

}  // namespace

const DialogTemplate& BrowserTemplate() {
  return kBrowser;
}
