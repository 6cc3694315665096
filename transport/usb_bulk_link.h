#pragma once
// Navigators without a kernel driver: vendor-class USB devices reached from user space through
// libusb, by a bulk IN and a bulk OUT endpoint of their first interface that has both. Their
// device paths are "usb:BBB-DDD" (bus and address, three digits each). Only devices whose
// vendor:product id is configured are listed or opened: opening detaches the kernel driver of
// the interface, which must never happen to an unrelated device.
//
// Linux only (usb_bulk_link_posix.cpp), but for IsBulkUsbPath. One libusb context with one event
// thread serves every link and hotplug watch of the process; it lives while any of them does.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/usb_ids.h"

namespace transport {

inline constexpr std::string_view kBulkUsbPathPrefix = "usb:";

inline bool IsBulkUsbPath(std::string_view path) {
    return path.substr(0, kBulkUsbPathPrefix.size()) == kBulkUsbPathPrefix;
}

struct BulkUsbDevice {
    std::string path;
    platform::UsbId id;
};

// Attached devices with one of `ids`, in order of bus and address. Nothing (and no libusb
// context) when `ids` is empty.
std::vector<BulkUsbDevice> ListBulkUsbDevices(const std::vector<platform::UsbId>& ids);

enum class BulkOpenError {
    None,
    NotFound,         // no such device, or its id is not configured
    NoPermission,     // found, but the device node is not ours to open
    Busy,             // another program (or link) holds the interface
    NoBulkInterface,  // no interface with a bulk IN and a bulk OUT endpoint
    Failed,           // libusb unavailable or another error
};

// A line for the user; for NoPermission it says how to get access.
std::string BulkOpenErrorText(BulkOpenError error, const std::string& path);

class BulkUsbLink {
public:
    struct Impl;
    explicit BulkUsbLink(std::unique_ptr<Impl> impl);
    ~BulkUsbLink();
    BulkUsbLink(const BulkUsbLink&) = delete;
    BulkUsbLink& operator=(const BulkUsbLink&) = delete;

    // Opens the device at `path` if its id is in `ids` (when `ids` is empty: if it still has
    // the id with which ListBulkUsbDevices listed it in this process), detaching a bound kernel
    // driver, and claims its first interface with bulk IN and OUT endpoints. Null with `error`
    // set on failure.
    static std::shared_ptr<BulkUsbLink> Open(const std::string& path,
                                             const std::vector<platform::UsbId>& ids,
                                             BulkOpenError* error = nullptr);

    // Waits until the device sends bytes and returns up to `length` of them. Ends with true and
    // 0 bytes when the link is closed or `stopFd` (if >= 0) becomes readable. False once the
    // device has gone or an endpoint failed, after the bytes received before were taken.
    bool Read(uint8_t* buffer, int32_t length, int32_t& bytesRead, int stopFd);
    // Sends `length` bytes, waiting at most `limitMs`; what is not sent by then is cancelled.
    // True when all bytes went out; false for no bytes.
    bool Write(const uint8_t* buffer, int32_t length, uint32_t limitMs);
    // Cancels a write in progress.
    void CancelWrite();
    // Ends pending reads and writes at once, releases the interface (re-attaching the kernel
    // driver) and closes the device. Idempotent.
    void Close();
    bool IsOpen() const;
    // Whether the link failed because an endpoint stalled. A stalled endpoint is cleared at
    // once (and both are cleared on open): a device left halted would refuse every later
    // connection until it is plugged in again. The link itself stays failed.
    bool Stalled() const;

    // Interface number and endpoint addresses in use.
    int InterfaceNumber() const;
    uint8_t InEndpoint() const;
    uint8_t OutEndpoint() const;

private:
    std::unique_ptr<Impl> impl_;
};

// Calls `onChange` on the libusb event thread when a device with one of the ids arrives or
// leaves. Nothing is called after Stop() returns.
class BulkUsbHotplug {
public:
    BulkUsbHotplug(std::vector<platform::UsbId> ids, std::function<void()> onChange);
    ~BulkUsbHotplug();
    BulkUsbHotplug(const BulkUsbHotplug&) = delete;
    BulkUsbHotplug& operator=(const BulkUsbHotplug&) = delete;

    // False when there are no ids or libusb has no hotplug support here.
    bool Start();
    void Stop();

private:
    struct State;
    std::vector<platform::UsbId> ids_;
    std::function<void()> onChange_;
    std::shared_ptr<State> state_;
};

}  // namespace transport
