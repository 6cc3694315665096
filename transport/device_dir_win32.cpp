// On Windows the present device interfaces are those of the navigator driver's interface class;
// a non-empty "directory" is a ';'-separated list of paths that stands in for them.
#include "transport/device_dir.h"

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include <cstdint>
#include <cwchar>
#include <string>

#include "platform/codepage.h"
#include "transport/device_path_list.h"

namespace {

// {36D22A7B-61F2-4341-8A4B-BD92758BF0F3}: the navigator driver's device interface class.
constexpr GUID kInterfaceClass = {
    0x36D22A7B, 0x61F2, 0x4341, {0x8A, 0x4B, 0xBD, 0x92, 0x75, 0x8B, 0xF0, 0xF3}};

constexpr size_t kDetailBufferSize = 1024;

struct DeviceInfoList {
    HDEVINFO list;
    ~DeviceInfoList() {
        if (list != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(list);
    }
};

std::string ToUtf8(const wchar_t* text) {
    return platform::Utf16ToUtf8(
        std::u16string(reinterpret_cast<const char16_t*>(text), std::wcslen(text)));
}

// Paths of the present interfaces of the navigator's class, in the order the platform lists
// them, whatever their length.
std::vector<std::string> SetupApiPaths() {
    std::vector<std::string> paths;
    DeviceInfoList info{SetupDiGetClassDevsW(&kInterfaceClass, nullptr, nullptr,
                                             DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)};
    if (info.list == INVALID_HANDLE_VALUE) return paths;
    // 8-byte aligned and zero-filled; the size field is the record's fixed part, which is 8
    // bytes in a 64-bit program (6 in a 32-bit one).
    std::vector<uint64_t> buffer(kDetailBufferSize / sizeof(uint64_t), 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(info.list, nullptr, &kInterfaceClass, index, &data)) {
            break;
        }
        if (!SetupDiGetDeviceInterfaceDetailW(info.list, &data, detail,
                                              static_cast<DWORD>(kDetailBufferSize), nullptr,
                                              nullptr)) {
            break;
        }
        paths.push_back(ToUtf8(detail->DevicePath));
    }
    return paths;
}

}  // namespace

namespace transport {

std::vector<std::string> ListDevicePaths(const std::string& dir, std::size_t maxCount,
                                         std::size_t maxPathLength) {
    if (!dir.empty()) return SplitDevicePaths(dir, maxCount, maxPathLength);
    // A path too long for the record is skipped whole (a cut one would open nothing, or another
    // device); InspectDeviceDirectory names it.
    std::vector<std::string> paths;
    for (std::string& path : SetupApiPaths()) {
        if (paths.size() == maxCount) break;
        if (path.size() <= maxPathLength) paths.push_back(std::move(path));
    }
    return paths;
}

// The driver's list has no folder to be unreadable; a stand-in list is reported by its text.
DeviceDirReport InspectDeviceDirectory(const std::string& dir, std::size_t maxPathLength) {
    DeviceDirReport report;
    report.directory = dir.empty() ? std::string("the navigator driver's device list") : dir;
    if (dir.empty()) {
        for (std::string& path : SetupApiPaths()) {
            if (path.size() > maxPathLength) report.tooLong.push_back(std::move(path));
        }
    }
    return report;
}

std::string DeviceOpenProblem(const std::string& path) {
    const std::u16string wide = platform::Utf8ToUtf16(path);
    const HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), GENERIC_READ | GENERIC_WRITE, 0,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // An exclusive handle held elsewhere is refused with one of these two.
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) {
            return "in use by another program";
        }
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_DEVICE_NOT_CONNECTED) {
            return "the navigator vanished";
        }
        return "Windows error " + std::to_string(error);
    }
    CloseHandle(handle);
    return {};
}

}  // namespace transport
