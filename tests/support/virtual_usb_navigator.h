#pragma once
// A USB navigator that exists only for the process under umockdev's preload: a vendor-class
// device in an emulated sysfs whose usbdevfs ioctls are answered live. Its bulk endpoints carry
// the bytes of the simulator's device model, so every frame is answered as caddora-sim answers
// it; other processes started with the same UMOCKDEV_DIR and the preload see it too.
//
//   UsbTestbed bed;                                   // one per test
//   VirtualUsbNavigator nav(bed, {});                 // plugged in as usb:001-002
//   ... open nav.Path() through the libusb link ...
//   nav.Unplug();                                     // pending transfers fail, device leaves
#include <glib.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <umockdev.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/device_model.h"

namespace testsupport {

inline constexpr uint16_t kTestVendor = 0xC0DE;
inline constexpr uint16_t kTestProduct = 0x4200;

// A fresh emulated /sys and /dev; removed with everything in it on destruction.
class UsbTestbed {
public:
    UsbTestbed();
    ~UsbTestbed();
    UsbTestbed(const UsbTestbed&) = delete;
    UsbTestbed& operator=(const UsbTestbed&) = delete;

    UMockdevTestbed* get() const { return testbed_; }
    const std::string& Root() const { return root_; }

private:
    UMockdevTestbed* testbed_;
    std::string root_;
};

struct VirtualUsbOptions {
    sim::DeviceConfig device;
    uint16_t vendor = kTestVendor;
    uint16_t product = kTestProduct;
    uint8_t address = 2;  // on bus 1
    // Kernel driver bound to the bulk interface, empty for none.
    std::string driver;
    // Put an interface with only an interrupt endpoint first and use endpoints 0x82/0x02 on
    // the second, so the link must read the descriptors.
    bool leadingInterruptInterface = false;
    // Leave out the bulk OUT endpoint: no usable interface.
    bool withoutBulkOut = false;
    // Added at once; otherwise Plug() adds it (a hotplug arrival).
    bool plugged = true;
};

// Drops the capabilities that let root ignore file modes, for this thread only, so a device
// node's mode decides as it does for a normal user.
class WithoutFileCapabilities {
public:
    WithoutFileCapabilities() {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        ::syscall(SYS_capget, &header_, saved_);
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        ::syscall(SYS_capset, &header_, reduced);
    }
    ~WithoutFileCapabilities() { ::syscall(SYS_capset, &header_, saved_); }

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
};

class VirtualUsbNavigator {
public:
    VirtualUsbNavigator(UsbTestbed& testbed, VirtualUsbOptions options);
    ~VirtualUsbNavigator();
    VirtualUsbNavigator(const VirtualUsbNavigator&) = delete;
    VirtualUsbNavigator& operator=(const VirtualUsbNavigator&) = delete;

    void Plug();
    // The device leaves: pending and later transfers fail with ENODEV, "remove" uevent.
    void Unplug();

    // "usb:001-002".
    std::string Path() const;
    std::string DevNode() const;  // "/dev/bus/usb/001/002"

    // Bytes the device sends on its own, as one IN transfer's worth.
    void Send(std::vector<uint8_t> bytes);
    // While false, OUT transfers stay pending (a device that takes no data).
    void SetTakesOutput(bool takes);
    // Halts the bulk IN or OUT endpoint: its pending and later transfers end with a stall
    // (EPIPE) until the host clears the halt (USBDEVFS_CLEAR_HALT), as a real device keeps it
    // across closes and opens.
    void Halt(bool in);
    bool Halted(bool in) const;
    // Everything that arrived on the bulk OUT endpoint.
    std::vector<uint8_t> Received() const;
    bool WaitForReceived(size_t bytes, uint32_t timeoutMs) const;
    // Waits until the model has received `count` good frames.
    bool WaitForFrames(uint32_t count, uint32_t timeoutMs) const;
    // Usbdevfs requests seen, in order (ioctl numbers).
    std::vector<unsigned long> Requests() const;
    bool Saw(unsigned long request) const;
    // IN transfers waiting for data.
    size_t PendingIn() const;
    bool WaitForPendingIn(size_t count, uint32_t timeoutMs) const;
    // The kernel driver bound now (empty: none).
    std::string BoundDriver() const;

    template <class F>
    auto WithModel(F&& f) {
        std::lock_guard<std::mutex> lock(mut_);
        return f(model_);
    }

private:
    // A submitted transfer: umockdev's copies of the client's usbdevfs_urb and its buffer,
    // kept until the client reaps it.
    struct Urb {
        UMockdevIoctlClient* client = nullptr;
        UMockdevIoctlData* data = nullptr;
        UMockdevIoctlData* buffer = nullptr;
        uint64_t clientAddress = 0;
    };
    struct Piece {
        std::vector<uint8_t> bytes;
        uint32_t due = 0;
        bool vanish = false;
    };
    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);
    static void OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);
    void HandleIoctl(UMockdevIoctlClient* client);
    void Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    bool Claim(UMockdevIoctlClient* client, unsigned interface);
    // Caller holds mut_.
    void Schedule(const sim::FeedResult& result, uint32_t now);
    void DeliverDue(uint32_t now);
    void TakeOutput(Urb urb);
    void Stall(Urb urb);
    void MarkReapable(Urb urb);
    void UpdatePollNode();
    void RunTimer(uint32_t now);
    void Serve();
    static void Release(Urb& urb);
    std::string Record() const;

    UsbTestbed& testbed_;
    VirtualUsbOptions options_;
    std::string syspath_;
    UMockdevIoctlBase* handler_ = nullptr;
    int nodeFd_ = -1;  // the FIFO that stands for the node; see UpdatePollNode
    bool nodeDrained_ = false;

    mutable std::mutex mut_;
    mutable std::condition_variable changed_;
    sim::DeviceModel model_;
    std::deque<Piece> outgoing_;
    std::deque<Urb> pendingIn_;
    std::deque<Urb> pendingOut_;
    bool takesOutput_ = true;
    bool halted_[2] = {false, false};  // OUT, IN
    std::map<UMockdevIoctlClient*, std::deque<Urb>> reapable_;
    std::map<unsigned, UMockdevIoctlClient*> claims_;
    std::vector<uint8_t> received_;
    std::vector<unsigned long> requests_;
    std::string boundDriver_;
    std::optional<uint32_t> nextTimer_;
    bool plugged_ = false;
    bool gone_ = false;
    bool stopping_ = false;
    std::thread server_;
};

}  // namespace testsupport
