#pragma once
// The USB link: finds the navigator, opens it as an exclusive byte pipe and moves raw bytes.
// On Linux the navigator's device interfaces are the character devices of the device directory
// (transport/device_dir.h), where a udev rule or the virtual navigator puts them, followed by
// the USB navigators with a configured id that are reached through libusb ("usb:BBB-DDD",
// transport/usb_bulk_link.h).
//
// `CUsb_Interface` holds the platform operations, `Usb_Port` is the wrapper the rest of the
// program calls. All USB links share one process-wide stop flag: closing a link sets it,
// opening a link clears it, and a read waiting for data gives up as soon as it is set.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/settings.h"
#include "transport/usb_open_failure.h"

namespace transport {
class LinkFd;
class BulkUsbLink;
class StandInConnection;
}  // namespace transport

// Result of an enumeration: the number of device paths, then 12 NUL-terminated paths of at
// most 127 bytes. Slots beyond the count are all zero.
constexpr int kUsbInfoSlots = 12;
constexpr int kUsbInfoPathSize = 128;
struct usb_info {
    int32_t count;
    char path[kUsbInfoSlots][kUsbInfoPathSize];
};

// An open USB link, or the null handle. Copies refer to the same link; the link stays valid
// (but closed) for as long as any copy exists, so a thread may read through its copy while
// another thread closes it.
class UsbHandle {
public:
    UsbHandle() = default;
    explicit operator bool() const {
        return link_ != nullptr || bulk_ != nullptr || standIn_ != nullptr;
    }
    bool operator==(const UsbHandle& other) const {
        return link_ == other.link_ && bulk_ == other.bulk_ && standIn_ == other.standIn_;
    }

private:
    friend class CUsb_Interface;
    friend class Usb_Port;
    std::shared_ptr<transport::LinkFd> link_;                // a device-directory entry
    std::shared_ptr<transport::BulkUsbLink> bulk_;           // a USB navigator through libusb
    std::shared_ptr<transport::StandInConnection> standIn_;  // transport/stand_in_link.h
};

// The process-wide link stop flag.
void SetUsbStopFlag();
void ClearUsbStopFlag();
bool UsbStopFlag();

// The eight bytes that one Windows version sends right after an open.
constexpr std::array<uint8_t, 8> kOpenGreeting = {0xF1, 0x00, 0xD9, 0x00, 0x0A, 0x00, 0x04, 0x00};
// Whether an open sends kOpenGreeting; never on Linux.
bool SendsOpenGreeting();
// Whether USB navigators without a driver of their own are reached by their configured ids
// (libusb, Linux); on Windows the navigator's driver finds them.
bool ReachesNavigatorsByUsbId();
#ifdef _WIN32
// Whether a Windows that reports this platform id and major version gets kOpenGreeting: NT (2)
// with major version 6 only.
bool GreetsOnWindowsVersion(uint32_t platformId, uint32_t majorVersion);
#endif

class CUsb_Interface {
public:
    // Enumerates `deviceDir` (transport/device_dir.h; on Windows: the driver's interface class,
    // a non-empty value being a list of paths), then the USB navigators with one of `usbIds`
    // (transport/usb_bulk_link.h, Linux); empty: that part finds nothing.
    explicit CUsb_Interface(std::string deviceDir = {}, std::vector<platform::UsbId> usbIds = {})
        : deviceDir_(std::move(deviceDir)), usbIds_(std::move(usbIds)) {}

    // Clears the record and fills it with the present device paths; returns it.
    usb_info& gGetDevicePath(usb_info& record);
    // Whether `path` is among the present device paths (exact, case-sensitive); without a
    // device directory, those of the path's own directory.
    bool gCheckDevice(const std::string& path);
    // Opens the device exclusively in raw mode; the null handle on failure. Clears the stop
    // flag in either case.
    UsbHandle gConnectToDriver(const std::string& path);
    // Waits until the device sends bytes and returns up to `length` of them in `bytesRead`.
    // Ends with true and 0 bytes when the link is closed or the stop flag is set. False for
    // the null handle and when the device has gone (hang-up, I/O error), so a reader never
    // loops on 0 bytes from a vanished device.
    bool ReadFromDriver(UsbHandle handle, uint8_t* buffer, int32_t& bytesRead, int32_t length);
    // Sends `length` bytes, waiting at most 2,000 ms for the device to take them, then drops
    // what is left. False only for the null handle or no bytes; the outcome is not reported.
    bool WriteToDriver(UsbHandle handle, const uint8_t* buffer, int32_t length);
    // Whether the link failed because an endpoint of the device stalled (libusb); the halt has
    // been cleared then, so the next connection works.
    bool EndpointStalled(UsbHandle handle);
    // Sets the stop flag and closes the link, ending a read or write pending on it.
    void gDisConToDriver(UsbHandle handle);
    // Drops output the device has not taken yet.
    void CancelPacket(UsbHandle handle);

private:
    std::string deviceDir_;
    std::vector<platform::UsbId> usbIds_;
};

class Usb_Port {
public:
    // A port that opens given paths; its Get_USBInfo finds nothing (on Windows: the driver's
    // interface class).
    Usb_Port();
    // A port that also enumerates the device interfaces in `deviceDir`.
    explicit Usb_Port(std::string deviceDir);
    // A port that enumerates where `settings` say: the device directory, then USB navigators.
    explicit Usb_Port(const platform::Settings& settings);
    ~Usb_Port();
    Usb_Port(const Usb_Port&) = delete;
    Usb_Port& operator=(const Usb_Port&) = delete;

    usb_info& Get_USBInfo(usb_info& record);
    bool Check_Device(const std::string& path);
    UsbHandle Init_USB(const std::string& path);
    // Bytes read (0 included), or -1 when the read failed.
    int32_t Read_Usb(UsbHandle handle, uint8_t* buffer, int32_t length);
    bool Write_Usb(UsbHandle handle, const uint8_t* buffer, int32_t length);
    // Whether a failed read failed because an endpoint stalled (see CUsb_Interface).
    bool Stalled(UsbHandle handle);
    void Close_Usb(UsbHandle handle);
    void Cancel_Packet(UsbHandle handle);
    // Frees the interface object; later calls behave as for the null handle.
    void Dispose();

    std::unique_ptr<CUsb_Interface> dllHandle;
};
