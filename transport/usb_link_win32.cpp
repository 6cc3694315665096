#include "transport/usb_link.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "transport/device_dir.h"
#include "transport/win32_handle.h"

using transport::MakeEvent;
using transport::UniqueHandle;

namespace transport {

// An open device handle shared by the threads of one link. A read may wait for its completion
// on one thread while another writes or closes. Close() wakes every waiting caller through an
// event and closes the handle only after the last one has left, so no call ever uses a closed
// (and possibly reused) handle.
class LinkFd {
public:
    LinkFd() : closeEvent_(MakeEvent()) {}
    ~LinkFd() { Release(); }
    LinkFd(const LinkFd&) = delete;
    LinkFd& operator=(const LinkFd&) = delete;

    bool Open(const std::wstring& path) {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE || !closeEvent_) {
            if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
            return false;
        }
        std::lock_guard<std::mutex> lock(mut_);
        handle_.Reset(h);
        closed_ = false;
        return true;
    }

    // The write of the eight greeting bytes is not waited for: its data and record live here
    // until it completes or Close() cancels it.
    void StartGreeting() {
        greetingEvent_ = MakeEvent();
        if (!greetingEvent_) return;
        std::memcpy(greeting_, kOpenGreeting.data(), sizeof greeting_);
        greetingOv_ = OVERLAPPED{};
        greetingOv_.hEvent = greetingEvent_.get();
        if (WriteFile(handle_.get(), greeting_, sizeof greeting_, nullptr, &greetingOv_) ||
            GetLastError() == ERROR_IO_PENDING) {
            greetingPending_ = true;
        }
    }

    // Cancels the greeting if the device has not taken it yet.
    void CancelGreeting() {
        std::lock_guard<std::mutex> lock(greetingMut_);
        if (!greetingPending_) return;
        DWORD n = 0;
        if (!HasOverlappedIoCompleted(&greetingOv_)) CancelIoEx(handle_.get(), &greetingOv_);
        GetOverlappedResult(handle_.get(), &greetingOv_, &n, TRUE);
        greetingPending_ = false;
    }

    void Close() {
        std::unique_lock<std::mutex> lock(mut_);
        if (closed_) return;
        closed_ = true;
        SetEvent(closeEvent_.get());
        // Callers leave at once when woken; the bound only guards against a stuck driver, in
        // which case the destructor (run after the last caller's copy is gone) closes.
        if (leftCv_.wait_for(lock, std::chrono::seconds(5), [this] { return users_ == 0; })) {
            ReleaseLocked();
        }
    }

    bool IsClosed() const {
        std::lock_guard<std::mutex> lock(mut_);
        return closed_;
    }

    HANDLE CloseEvent() const { return closeEvent_.get(); }

    class Use {
    public:
        explicit Use(LinkFd& link) : link_(link), ok_(link.Enter()) {}
        ~Use() {
            if (ok_) link_.Leave();
        }
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;
        explicit operator bool() const { return ok_; }
        HANDLE handle() const { return link_.handle_.get(); }

    private:
        LinkFd& link_;
        bool ok_;
    };

private:
    bool Enter() {
        std::lock_guard<std::mutex> lock(mut_);
        if (closed_ || !handle_) return false;
        ++users_;
        return true;
    }
    void Leave() {
        std::lock_guard<std::mutex> lock(mut_);
        if (--users_ == 0) leftCv_.notify_all();
    }
    void ReleaseLocked() {
        if (!handle_) return;
        CancelGreeting();
        handle_.Reset();
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mut_);
        closed_ = true;
        ReleaseLocked();
    }

    mutable std::mutex mut_;
    std::condition_variable leftCv_;
    UniqueHandle handle_;
    UniqueHandle closeEvent_;
    int users_ = 0;
    bool closed_ = true;

    std::mutex greetingMut_;
    UniqueHandle greetingEvent_;
    OVERLAPPED greetingOv_{};
    uint8_t greeting_[8] = {};
    bool greetingPending_ = false;
};

}  // namespace transport

using transport::LinkFd;

namespace {

constexpr DWORD kWriteLimitMs = 2000;
// A serial port given as a device path (tests, demos) completes a read this long after the
// last byte that came; without it a read would wait for its full length.
constexpr DWORD kSerialIntervalMs = 2;

// The stop flag with an event that is signalled exactly while the flag is set, so a waiting
// read wakes when it is set instead of polling it.
class StopSignal {
public:
    StopSignal() : event_(MakeEvent()) {}
    void Set() {
        std::lock_guard<std::mutex> lock(mut_);
        flag_ = true;
        SetEvent(event_.get());
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mut_);
        flag_ = false;
        ResetEvent(event_.get());
    }
    bool IsSet() const { return flag_.load(); }
    HANDLE Event() const { return event_.get(); }

private:
    std::mutex mut_;
    std::atomic<bool> flag_{false};
    UniqueHandle event_;
};

StopSignal& Stop() {
    static StopSignal signal;  // lives for the whole process
    return signal;
}

// A serial port standing in for the navigator: raw 8N1, no flow control, reads that end once
// bytes have come. The navigator's own driver is no serial port and refuses GetCommState.
void ConfigureIfSerial(HANDLE h) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) return;
    dcb.BaudRate = CBR_115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    SetCommState(h, &dcb);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = kSerialIntervalMs;
    SetCommTimeouts(h, &timeouts);
}

}  // namespace

void SetUsbStopFlag() {
    Stop().Set();
}
void ClearUsbStopFlag() {
    Stop().Clear();
}
bool UsbStopFlag() {
    return Stop().IsSet();
}

bool ReachesNavigatorsByUsbId() {
    return false;
}

bool SendsOpenGreeting() {
    // Windows reports major version 6 for 6.x and, to programs that do not declare a newer
    // system in their manifest, for every later version too.
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&version)) return false;
#pragma GCC diagnostic pop
    return GreetsOnWindowsVersion(version.dwPlatformId, version.dwMajorVersion);
}

bool GreetsOnWindowsVersion(uint32_t platformId, uint32_t majorVersion) {
    return platformId == VER_PLATFORM_WIN32_NT && majorVersion == 6;
}

usb_info& CUsb_Interface::gGetDevicePath(usb_info& record) {
    std::memset(&record, 0, sizeof record);
    for (const std::string& path :
         transport::ListDevicePaths(deviceDir_, kUsbInfoSlots, kUsbInfoPathSize - 1)) {
        std::memcpy(record.path[record.count], path.data(), path.size());
        ++record.count;
    }
    return record;
}

bool CUsb_Interface::gCheckDevice(const std::string& path) {
    for (const std::string& present :
         transport::ListDevicePaths(deviceDir_, SIZE_MAX, kUsbInfoPathSize - 1)) {
        if (present == path) return true;
    }
    return false;
}

UsbHandle CUsb_Interface::gConnectToDriver(const std::string& path) {
    UsbHandle handle;
    const std::u16string wide = platform::Utf8ToUtf16(path);
    // The path buffer holds 128 UTF-16 units with the terminator.
    if (!wide.empty() && wide.size() < kUsbInfoPathSize) {
        auto link = std::make_shared<LinkFd>();
        if (link->Open(std::wstring(wide.begin(), wide.end()))) {
            {
                LinkFd::Use use(*link);
                ConfigureIfSerial(use.handle());
                if (SendsOpenGreeting()) link->StartGreeting();
            }
            handle.link_ = std::move(link);
        }
    }
    ClearUsbStopFlag();
    return handle;
}

bool CUsb_Interface::ReadFromDriver(UsbHandle handle, uint8_t* buffer, int32_t& bytesRead,
                                    int32_t length) {
    bytesRead = 0;
    if (!handle) return false;
    if (length <= 0 || buffer == nullptr) return true;
    LinkFd& link = *handle.link_;
    LinkFd::Use use(link);
    if (!use) return true;  // closed: the pending read ends with nothing
    UniqueHandle event = MakeEvent();
    if (!event) return false;
    OVERLAPPED ov{};
    ov.hEvent = event.get();
    DWORD count = 0;
    if (!ReadFile(use.handle(), buffer, static_cast<DWORD>(length), nullptr, &ov) &&
        GetLastError() != ERROR_IO_PENDING) {
        // 21 not ready, 109 broken pipe, 995 aborted, ...: the device is gone.
        return false;
    }
    // Block on the completion, the stop flag and the close; nothing polls.
    const HANDLE waits[] = {event.get(), Stop().Event(), link.CloseEvent()};
    const DWORD woke = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
    const bool cancelled = woke != WAIT_OBJECT_0;
    if (cancelled) CancelIoEx(use.handle(), &ov);
    // Waits for the cancellation too: buffer and record must outlive the read. Bytes that
    // came with a cancellation are kept.
    const BOOL ok = GetOverlappedResult(use.handle(), &ov, &count, TRUE);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    bytesRead = static_cast<int32_t>(count);
    if (ok || error == ERROR_TIMEOUT) return true;  // a serial time-out: nothing came
    if (error == ERROR_OPERATION_ABORTED && cancelled) return true;  // closed or stopped
    // 21 not ready, 1167 device not connected, ...: the device is gone. The stream marks its
    // buffers failed, which ends every wait of the job at once.
    return false;
}

bool CUsb_Interface::WriteToDriver(UsbHandle handle, const uint8_t* buffer, int32_t length) {
    if (!handle || length <= 0 || buffer == nullptr) return false;
    LinkFd& link = *handle.link_;
    LinkFd::Use use(link);
    if (!use) return true;
    UniqueHandle event = MakeEvent();
    if (!event) return true;
    OVERLAPPED ov{};
    ov.hEvent = event.get();
    if (WriteFile(use.handle(), buffer, static_cast<DWORD>(length), nullptr, &ov) ||
        GetLastError() != ERROR_IO_PENDING) {
        return true;  // done, or failed at once: either way nothing is pending
    }
    const HANDLE waits[] = {event.get(), link.CloseEvent()};
    if (WaitForMultipleObjects(2, waits, FALSE, kWriteLimitMs) != WAIT_OBJECT_0) {
        CancelIoEx(use.handle(), &ov);
    }
    DWORD count = 0;
    GetOverlappedResult(use.handle(), &ov, &count, TRUE);
    // As described for this link: the caller learns nothing about the outcome.
    return true;
}

bool CUsb_Interface::EndpointStalled(UsbHandle) {
    // The navigator's driver clears halts itself; a failed read means the device is gone.
    return false;
}

void CUsb_Interface::gDisConToDriver(UsbHandle handle) {
    if (UsbStopFlag()) CancelPacket(handle);
    SetUsbStopFlag();
    if (handle) handle.link_->Close();
}

void CUsb_Interface::CancelPacket(UsbHandle handle) {
    // Reads and writes wait for their own completion; only the greeting can still be pending.
    if (!handle) return;
    LinkFd::Use use(*handle.link_);
    if (use) handle.link_->CancelGreeting();
}
