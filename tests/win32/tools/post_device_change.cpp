// Test helper: sends the main window the broadcast Windows sends when a device interface of the
// navigator driver's class arrives or leaves (Wine sends none).
//   post_device_change arrival|removal PATH
//   post_device_change buttons    prints which job buttons are enabled: "points course firmware",
//                                 each 1 or 0
// SendMessageW, not PostMessageW: the broadcast points to a DEV_BROADCAST_DEVICEINTERFACE_W,
// which a posted message cannot take to another process; a sent one can, as Wine copies that
// record across processes for the wParam values with bit 0x8000 (arrival, removal).
// Exit status 0 when the window took the message (returned TRUE).
// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

#include <cstddef>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "app/win32/window_parts.h"

namespace {

struct Buttons {
    int enabled[3] = {-1, -1, -1};
};

BOOL CALLBACK NoteButton(HWND child, LPARAM lp) {
    const int index = GetDlgCtrlID(child) - win32window::kIdButtonUpdata;
    if (index >= 0 && index < 3) {
        reinterpret_cast<Buttons*>(lp)->enabled[index] = IsWindowEnabled(child) ? 1 : 0;
    }
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const HWND window = FindWindowW(L"CaddoraMain", nullptr);
    if (!window) return 3;
    if (argc == 2 && std::wcscmp(argv[1], L"buttons") == 0) {
        Buttons buttons;
        EnumChildWindows(window, NoteButton, reinterpret_cast<LPARAM>(&buttons));
        std::printf("%d %d %d\n", buttons.enabled[0], buttons.enabled[1], buttons.enabled[2]);
        return 0;
    }
    if (argc != 3) return 2;
    const bool arrival = std::wcscmp(argv[1], L"arrival") == 0;
    if (!arrival && std::wcscmp(argv[1], L"removal") != 0) return 2;
    const size_t chars = std::wcslen(argv[2]) + 1;
    std::vector<unsigned char> bytes(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) +
                                     chars * sizeof(wchar_t));
    auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
    record->dbcc_size = static_cast<DWORD>(bytes.size());
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record->dbcc_classguid = {
        0x36D22A7B, 0x61F2, 0x4341, {0x8A, 0x4B, 0xBD, 0x92, 0x75, 0x8B, 0xF0, 0xF3}};
    std::wmemcpy(record->dbcc_name, argv[2], chars);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, WM_DEVICECHANGE,
                             arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                             reinterpret_cast<LPARAM>(record), SMTO_ABORTIFHUNG, 5000, &result)) {
        return 4;
    }
    return result == TRUE ? 0 : 1;
}
