#include "transport/usb_link.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "platform/tick.h"
#include "transport/device_dir.h"
#include "transport/link_fd.h"
#include "transport/usb_bulk_link.h"

using transport::LinkFd;

namespace {

constexpr uint32_t kWriteLimitMs = 2000;
// Longest single wait of a write for room in the device's queue.
constexpr uint32_t kWriteSliceMs = 50;
// A blocked read re-checks its state this often; it is woken at once anyway.
constexpr int kReadPollSliceMs = 1000;

// The stop flag with an eventfd that is readable exactly while the flag is set, so blocked
// reads wake when it is set instead of polling it.
class StopSignal {
public:
    StopSignal() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

    void Set() {
        std::lock_guard<std::mutex> lock(mut_);
        if (flag_.exchange(true)) return;
        uint64_t one = 1;
        if (fd_ >= 0) {
            ssize_t ignored = ::write(fd_, &one, sizeof one);
            (void)ignored;
        }
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mut_);
        if (!flag_.exchange(false)) return;
        uint64_t value;
        if (fd_ >= 0) {
            ssize_t ignored = ::read(fd_, &value, sizeof value);
            (void)ignored;
        }
    }
    bool IsSet() const { return flag_.load(); }
    int fd() const { return fd_; }

private:
    std::mutex mut_;
    std::atomic<bool> flag_{false};
    const int fd_;
};

StopSignal& Stop() {
    static StopSignal signal;  // lives for the whole process
    return signal;
}

std::vector<std::string> BulkUsbPaths(const std::vector<platform::UsbId>& ids) {
    std::vector<std::string> paths;
    for (const auto& device : transport::ListBulkUsbDevices(ids)) {
        paths.push_back(device.path);
    }
    return paths;
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

bool SendsOpenGreeting() {
    // Only the Windows driver stack of one platform version wanted these bytes.
    return false;
}

bool ReachesNavigatorsByUsbId() {
    return true;
}

usb_info& CUsb_Interface::gGetDevicePath(usb_info& record) {
    std::memset(&record, 0, sizeof record);
    auto paths = transport::ListDevicePaths(deviceDir_, kUsbInfoSlots, kUsbInfoPathSize - 1);
    // USB navigators come after the directory's entries, in the slots that are left.
    if (paths.size() < kUsbInfoSlots) {
        for (std::string& path : BulkUsbPaths(usbIds_)) paths.push_back(std::move(path));
    }
    for (const std::string& path : paths) {
        if (record.count >= kUsbInfoSlots) break;
        if (path.size() > kUsbInfoPathSize - 1) continue;
        std::memcpy(record.path[record.count], path.data(), path.size());
        ++record.count;
    }
    return record;
}

bool CUsb_Interface::gCheckDevice(const std::string& path) {
    // Unlike the record, the check is not limited to the first twelve devices.
    if (transport::IsBulkUsbPath(path)) {
        for (const std::string& present : BulkUsbPaths(usbIds_)) {
            if (present == path) return true;
        }
        return false;
    }
    // A port made without a directory (a stream's own) looks in the path's directory: device
    // paths are "<dir>/<name>".
    std::string dir = deviceDir_;
    if (dir.empty()) {
        const std::size_t slash = path.rfind('/');
        if (slash == std::string::npos) return false;
        dir = slash == 0 ? "/" : path.substr(0, slash);
    }
    const auto paths = transport::ListDevicePaths(dir, SIZE_MAX, kUsbInfoPathSize - 1);
    for (const std::string& present : paths) {
        if (present == path) return true;
    }
    return false;
}

UsbHandle CUsb_Interface::gConnectToDriver(const std::string& path) {
    UsbHandle handle;
    if (transport::IsBulkUsbPath(path)) {
        transport::BulkOpenError error = transport::BulkOpenError::None;
        // A stream's own port has no ids: it opens what an enumeration of this process listed.
        handle.bulk_ = transport::BulkUsbLink::Open(path, usbIds_, &error);
        if (!handle.bulk_) {
            RecordUsbOpenFailure({path, error == transport::BulkOpenError::NoPermission,
                                  transport::BulkOpenErrorText(error, path)});
        }
        ClearUsbStopFlag();
        return handle;
    }
    auto link = std::make_shared<LinkFd>();
    if (link->OpenExclusive(path)) {
        LinkFd::Use use(*link);
        if (link->IsTerminal()) transport::MakeRawTerminal(use.fd());
        if (SendsOpenGreeting()) {
            // Not waited for and not checked, like the write it stands for.
            ssize_t ignored = ::write(use.fd(), kOpenGreeting.data(), kOpenGreeting.size());
            (void)ignored;
        }
        handle.link_ = std::move(link);
    }
    ClearUsbStopFlag();
    return handle;
}

bool CUsb_Interface::ReadFromDriver(UsbHandle handle, uint8_t* buffer, int32_t& bytesRead,
                                    int32_t length) {
    bytesRead = 0;
    if (!handle) return false;
    if (handle.bulk_) return handle.bulk_->Read(buffer, length, bytesRead, Stop().fd());
    if (length <= 0 || buffer == nullptr) return true;
    LinkFd::Use use(*handle.link_);
    if (!use) return true;  // closed: the pending read ends with nothing
    bool hungUp = false;
    for (;;) {
        ssize_t n = ::read(use.fd(), buffer, static_cast<size_t>(length));
        if (n > 0) {
            bytesRead = static_cast<int32_t>(n);
            return true;
        }
        if (n == 0) return false;  // end of file: the device is gone
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return false;  // EIO, ENXIO, ENODEV: unplugged
        if (hungUp) return false;
        if (UsbStopFlag()) return true;
        switch (handle.link_->Wait(POLLIN, kReadPollSliceMs, Stop().fd())) {
            case LinkFd::Ready::Ready:
            case LinkFd::Ready::Timeout:
                break;
            case LinkFd::Ready::HangUp:
                hungUp = true;  // take what is still queued, then fail
                break;
            case LinkFd::Ready::Closed:
            case LinkFd::Ready::Stopped:
                return true;
            case LinkFd::Ready::Invalid:
                return false;
        }
    }
}

bool CUsb_Interface::WriteToDriver(UsbHandle handle, const uint8_t* buffer, int32_t length) {
    if (!handle || length <= 0 || buffer == nullptr) return false;
    if (handle.bulk_) {
        // As on the terminal path, the outcome is not reported.
        handle.bulk_->Write(buffer, length, kWriteLimitMs);
        return true;
    }
    LinkFd::Use use(*handle.link_);
    if (!use) return true;
    const uint32_t deadline = platform::TickCount() + kWriteLimitMs;
    size_t done = 0;
    const size_t total = static_cast<size_t>(length);
    while (done < total) {
        ssize_t n = ::write(use.fd(), buffer + done, total - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) break;  // the device failed: nothing left to cancel
        const uint32_t left = platform::TickRemaining(platform::TickCount(), deadline);
        if (left == 0) {
            if (handle.link_->IsTerminal()) ::tcflush(use.fd(), TCOFLUSH);
            break;
        }
        // In slices, so the deadline is the clock's (which tests may run fast), not poll's.
        LinkFd::Ready r =
            handle.link_->Wait(POLLOUT, static_cast<int>(std::min(left, kWriteSliceMs)), -1);
        if (r != LinkFd::Ready::Ready && r != LinkFd::Ready::Timeout) break;
    }
    // As on the platform this stands for: the caller learns nothing about the outcome.
    return true;
}

bool CUsb_Interface::EndpointStalled(UsbHandle handle) {
    return handle.bulk_ && handle.bulk_->Stalled();
}

void CUsb_Interface::gDisConToDriver(UsbHandle handle) {
    if (UsbStopFlag()) CancelPacket(handle);
    SetUsbStopFlag();
    if (handle.link_) handle.link_->Close();
    if (handle.bulk_) handle.bulk_->Close();
}

void CUsb_Interface::CancelPacket(UsbHandle handle) {
    if (handle.bulk_) handle.bulk_->CancelWrite();
    if (!handle.link_) return;
    LinkFd::Use use(*handle.link_);
    if (use && handle.link_->IsTerminal()) ::tcflush(use.fd(), TCOFLUSH);
}
