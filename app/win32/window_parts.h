#pragma once
// What the window's two files (main_window.cpp, main_window_controls.cpp) share: the control
// ids, the page class and the small conversions.
// clang-format off
#include <windows.h>
// clang-format on

#include <string>
#include <string_view>

#include "platform/codepage.h"

namespace win32window {

constexpr wchar_t kPageClass[] = L"CaddoraPage";

enum ControlId : int {
    kIdTab = 100,
    kIdButtonUpdata = 101,
    kIdButtonKroDown = 102,
    kIdButtonFwDown = 103,
    kIdLinkLabel1 = 104,
    kIdLinkLabel2 = 105,
    kIdProgress = 106,
    kIdCheckBoxMaps = 107,
    kIdCheckBoxLogbook = 108,
    kIdLinkLabelReport = 109,
};

inline std::wstring W(std::string_view utf8) {
    const std::u16string u = platform::Utf8ToUtf16(utf8);
    return std::wstring(u.begin(), u.end());
}

inline HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

inline void SetFont(HWND control, HFONT font) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

}  // namespace win32window
