// Device changes on Windows: a hidden message-only window registered for the navigator
// driver's interface class (and, as every top-level window gets them, the broadcast changes).
// Its thread waits in GetMessage; a burst of WM_DEVICECHANGE within `coalesceMs` is reported
// once, by a timer started with the first message of the burst.
#include "platform/device_watcher.h"

// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

#include <future>

struct DeviceWatcher::Fds {
    HWND window = nullptr;
    HDEVNOTIFY notify = nullptr;
};

namespace {

constexpr wchar_t kClassName[] = L"CaddoraDeviceWatcher";
constexpr UINT_PTR kCoalesceTimer = 1;
// {36D22A7B-61F2-4341-8A4B-BD92758BF0F3}
constexpr GUID kInterfaceClass = {
    0x36D22A7B, 0x61F2, 0x4341, {0x8A, 0x4B, 0xBD, 0x92, 0x75, 0x8B, 0xF0, 0xF3}};

struct WindowState {
    DeviceWatcher::Options options;
    std::function<void()> onChange;
    std::atomic<uint64_t>* reports;
    bool timerRunning = false;
};

LRESULT CALLBACK WatcherProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* state = reinterpret_cast<WindowState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (state && msg == WM_DEVICECHANGE) {
        if (!state->timerRunning) {
            SetTimer(hwnd, kCoalesceTimer, state->options.coalesceMs, nullptr);
            state->timerRunning = true;
        }
        return TRUE;
    }
    if (state && msg == WM_TIMER && wp == kCoalesceTimer) {
        KillTimer(hwnd, kCoalesceTimer);
        state->timerRunning = false;
        ++*state->reports;
        state->onChange();
        return 0;
    }
    if (msg == WM_CLOSE) {
        DestroyWindow(hwnd);
        return 0;
    }
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

bool RegisterWatcherClass() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WatcherProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

DeviceWatcher::DeviceWatcher(std::string directory, std::function<void()> onChange)
    : DeviceWatcher(std::move(directory), std::move(onChange), Options{}) {}

DeviceWatcher::DeviceWatcher(std::string directory, std::function<void()> onChange, Options options)
    : directory_(std::move(directory)), onChange_(std::move(onChange)), options_(options) {}

DeviceWatcher::~DeviceWatcher() {
    Stop();
}

bool DeviceWatcher::Start() {
    if (thread_.joinable()) return true;
    if (!RegisterWatcherClass()) return false;
    {
        std::lock_guard<std::mutex> lock(pokeMut_);
        fds_ = std::make_unique<Fds>();
    }
    std::promise<bool> started;
    auto ready = started.get_future();
    thread_ = std::thread([this, &started] {
        WindowState state{options_, onChange_, &reports_};
        HWND hwnd = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    GetModuleHandleW(nullptr), nullptr);
        if (!hwnd) {
            started.set_value(false);
            return;
        }
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = kInterfaceClass;
        // Without the registration the broadcasts still come; nothing else depends on it.
        fds_->notify = RegisterDeviceNotificationW(hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        {
            std::lock_guard<std::mutex> lock(pokeMut_);
            fds_->window = hwnd;
        }
        started.set_value(true);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
        if (fds_->notify) UnregisterDeviceNotification(fds_->notify);
        fds_->notify = nullptr;
    });
    if (!ready.get()) {
        thread_.join();
        std::lock_guard<std::mutex> lock(pokeMut_);
        fds_.reset();
        return false;
    }
    return true;
}

void DeviceWatcher::Stop() {
    if (!thread_.joinable()) return;
    HWND window = nullptr;
    {
        std::lock_guard<std::mutex> lock(pokeMut_);
        window = fds_->window;
        fds_->window = nullptr;  // Notify posts nothing from now on
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
    thread_.join();
    std::lock_guard<std::mutex> lock(pokeMut_);
    fds_.reset();
}

void DeviceWatcher::Notify() {
    std::lock_guard<std::mutex> lock(pokeMut_);
    // Joins the burst of the system's own messages on the watcher's window.
    if (fds_ && fds_->window) PostMessageW(fds_->window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
}
