#include <libusb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "transport/usb_bulk_link.h"

namespace transport {

using platform::ContainsUsbId;
using platform::FormatUsbId;
using platform::UsbId;

namespace {

// One IN transfer is in flight at a time; a multiple of every bulk packet size.
constexpr int kInBufferSize = 16384;
// Cancelled transfers come back within a millisecond or so; this only bounds a close that
// races with something unexpected.
constexpr auto kCancelWait = std::chrono::milliseconds(2500);

// The process's libusb context and the thread that runs its events (transfer completions,
// hotplug callbacks). Shared by every link and hotplug watch; ends with the last of them.
class UsbContext {
public:
    static std::shared_ptr<UsbContext> Acquire() {
        // Never destroyed: a link may outlive static destruction order.
        static auto* mut = new std::mutex;
        static auto* current = new std::weak_ptr<UsbContext>;
        std::lock_guard<std::mutex> lock(*mut);
        if (auto context = current->lock()) return context;
        libusb_context* ctx = nullptr;
        if (libusb_init(&ctx) != 0) return nullptr;
        auto context = std::shared_ptr<UsbContext>(new UsbContext(ctx));
        *current = context;
        return context;
    }

    ~UsbContext() {
        if (events_.joinable()) {
            quit_ = true;
            libusb_interrupt_event_handler(ctx_);
            events_.join();
        }
        retired_.clear();
        libusb_exit(ctx_);
    }
    UsbContext(const UsbContext&) = delete;
    UsbContext& operator=(const UsbContext&) = delete;

    libusb_context* get() const { return ctx_; }

    bool StartEvents() {
        std::lock_guard<std::mutex> lock(mut_);
        if (events_.joinable()) return true;
        try {
            events_ = std::thread([this] {
                // Blocks until an event comes; Interrupt ends the wait when quitting.
                while (!quit_.load()) libusb_handle_events(ctx_);
            });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

    // Keeps `object` until the context ends: libusb may still call back with its address.
    void Retire(std::shared_ptr<void> object) {
        std::lock_guard<std::mutex> lock(mut_);
        retired_.push_back(std::move(object));
    }

private:
    explicit UsbContext(libusb_context* ctx) : ctx_(ctx) {}

    libusb_context* const ctx_;
    std::mutex mut_;
    std::thread events_;
    std::atomic<bool> quit_{false};
    std::vector<std::shared_ptr<void>> retired_;
};

// What ListBulkUsbDevices found, by path: a port without ids (a stream's own) may open these.
std::mutex& ListedMutex() {
    static std::mutex mut;
    return mut;
}
std::map<std::string, UsbId>& Listed() {
    static std::map<std::string, UsbId> listed;
    return listed;
}

std::string PathOf(unsigned bus, unsigned address) {
    char text[16];
    std::snprintf(text, sizeof text, "%03u-%03u", bus & 0xFFu, address & 0xFFu);
    return std::string(kBulkUsbPathPrefix) + text;
}

struct BusAddress {
    uint8_t bus;
    uint8_t address;
};

std::optional<unsigned> ParseNumber(std::string_view digits) {
    if (digits.empty() || digits.size() > 3) return std::nullopt;
    unsigned value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 255) return std::nullopt;
    return value;
}

std::optional<BusAddress> ParsePath(std::string_view path) {
    if (!IsBulkUsbPath(path)) return std::nullopt;
    path.remove_prefix(kBulkUsbPathPrefix.size());
    const auto dash = path.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    const auto bus = ParseNumber(path.substr(0, dash));
    const auto address = ParseNumber(path.substr(dash + 1));
    if (!bus || !address) return std::nullopt;
    return BusAddress{static_cast<uint8_t>(*bus), static_cast<uint8_t>(*address)};
}

std::optional<UsbId> IdOf(libusb_device* device) {
    libusb_device_descriptor d{};
    if (libusb_get_device_descriptor(device, &d) != 0) return std::nullopt;
    return UsbId{d.idVendor, d.idProduct};
}

// The configured device at `where`, referenced; null when absent or not configured.
libusb_device* FindDevice(libusb_context* ctx, BusAddress where, const std::vector<UsbId>& ids) {
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(ctx, &list);
    if (count < 0) return nullptr;
    libusb_device* found = nullptr;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device* device = list[i];
        if (libusb_get_bus_number(device) != where.bus ||
            libusb_get_device_address(device) != where.address) {
            continue;
        }
        const auto id = IdOf(device);
        if (id && ContainsUsbId(ids, *id)) found = libusb_ref_device(device);
        break;
    }
    libusb_free_device_list(list, 1);
    return found;
}

struct BulkInterface {
    int number = -1;
    uint8_t in = 0;
    uint8_t out = 0;
};

// The first interface whose first setting has a bulk IN and a bulk OUT endpoint.
std::optional<BulkInterface> FindBulkInterface(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0 &&
        libusb_get_config_descriptor(device, 0, &config) != 0) {
        return std::nullopt;
    }
    std::optional<BulkInterface> found;
    for (int i = 0; i < config->bNumInterfaces && !found; ++i) {
        const libusb_interface& interface = config->interface[i];
        if (interface.num_altsetting < 1) continue;
        const libusb_interface_descriptor& setting = interface.altsetting[0];
        BulkInterface candidate{setting.bInterfaceNumber, 0, 0};
        for (int e = 0; e < setting.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& ep = setting.endpoint[e];
            if ((ep.bmAttributes & 0x03) != LIBUSB_TRANSFER_TYPE_BULK) continue;
            const bool in = (ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) != 0;
            uint8_t& slot = in ? candidate.in : candidate.out;
            if (slot == 0) slot = ep.bEndpointAddress;
        }
        if (candidate.in != 0 && candidate.out != 0) found = candidate;
    }
    libusb_free_config_descriptor(config);
    return found;
}

BulkOpenError ErrorOf(int libusbError) {
    switch (libusbError) {
        case LIBUSB_ERROR_ACCESS:
            return BulkOpenError::NoPermission;
        case LIBUSB_ERROR_BUSY:
            return BulkOpenError::Busy;
        case LIBUSB_ERROR_NO_DEVICE:
        case LIBUSB_ERROR_NOT_FOUND:
            return BulkOpenError::NotFound;
        default:
            return BulkOpenError::Failed;
    }
}

}  // namespace

std::vector<BulkUsbDevice> ListBulkUsbDevices(const std::vector<UsbId>& ids) {
    std::vector<BulkUsbDevice> devices;
    if (ids.empty()) return devices;
    const auto context = UsbContext::Acquire();
    if (!context) return devices;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context->get(), &list);
    if (count < 0) return devices;
    for (ssize_t i = 0; i < count; ++i) {
        const auto id = IdOf(list[i]);
        if (!id || !ContainsUsbId(ids, *id)) continue;
        devices.push_back(BulkUsbDevice{
            PathOf(libusb_get_bus_number(list[i]), libusb_get_device_address(list[i])), *id});
    }
    libusb_free_device_list(list, 1);
    {
        std::lock_guard<std::mutex> lock(ListedMutex());
        for (const BulkUsbDevice& device : devices) Listed()[device.path] = device.id;
    }
    // Three-digit numbers: byte order is bus, then address order.
    std::sort(devices.begin(), devices.end(),
              [](const BulkUsbDevice& a, const BulkUsbDevice& b) { return a.path < b.path; });
    return devices;
}

std::string BulkOpenErrorText(BulkOpenError error, const std::string& path) {
    switch (error) {
        case BulkOpenError::None:
            return {};
        case BulkOpenError::NotFound:
            return path + ": no configured USB navigator there";
        case BulkOpenError::NoPermission:
            return path +
                   ": the USB navigator is there but this user may not open it; install a udev "
                   "rule for its id (caddora-cli udev-rule prints one), then plug it in again";
        case BulkOpenError::Busy:
            return path + ": the USB navigator is in use by another program";
        case BulkOpenError::NoBulkInterface:
            return path + ": the USB device has no interface with bulk IN and OUT endpoints";
        case BulkOpenError::Failed:
            break;
    }
    return path + ": the USB navigator cannot be opened";
}

struct BulkUsbLink::Impl {
    std::shared_ptr<UsbContext> context;
    libusb_device_handle* handle = nullptr;
    BulkInterface interface;
    bool claimed = false;
    int wakeFd = -1;
    libusb_transfer* in = nullptr;
    libusb_transfer* out = nullptr;
    std::vector<uint8_t> inBuffer;

    std::mutex writeMut;  // one write at a time owns `out`
    std::mutex mut;       // guards everything below
    std::condition_variable changed;
    int inFilled = 0;
    int inTaken = 0;
    bool inFlight = false;
    bool outFlight = false;
    int outStatus = LIBUSB_TRANSFER_ERROR;
    int outActual = 0;
    bool failed = false;
    bool stalled = false;
    // An endpoint reported a stall and its halt is not cleared yet.
    bool inHalted = false;
    bool outHalted = false;
    bool closed = false;
    // Close gave up waiting for a cancelled transfer: libusb still holds our address.
    bool abandoned = false;

    ~Impl() {
        if (handle) {
            if (claimed) libusb_release_interface(handle, interface.number);
            libusb_close(handle);
        }
        if (in) libusb_free_transfer(in);
        if (out) libusb_free_transfer(out);
        if (wakeFd >= 0) ::close(wakeFd);
    }

    void Wake() {
        uint64_t one = 1;
        ssize_t ignored = ::write(wakeFd, &one, sizeof one);
        (void)ignored;
    }

    // Caller holds mut.
    void SubmitIn() {
        const int r = libusb_submit_transfer(in);
        if (r == 0) {
            inFlight = true;
            return;
        }
        failed = true;  // the device is gone, or the endpoint is halted
        if (r == LIBUSB_ERROR_PIPE) MarkStalled(inHalted);
    }

    // Caller holds mut.
    void MarkStalled(bool& halted) {
        failed = true;
        stalled = true;
        halted = true;
    }

    // Clears the halts reported so far, so the device takes transfers again. Caller holds mut;
    // the handle stays open meanwhile (Close waits for mut).
    void ClearHalts() {
        if (closed || !handle) return;
        if (inHalted) libusb_clear_halt(handle, interface.in);
        if (outHalted) libusb_clear_halt(handle, interface.out);
        inHalted = outHalted = false;
    }

    static void LIBUSB_CALL OnIn(libusb_transfer* transfer) {
        auto* self = static_cast<Impl*>(transfer->user_data);
        std::lock_guard<std::mutex> lock(self->mut);
        self->inFlight = false;
        switch (transfer->status) {
            case LIBUSB_TRANSFER_COMPLETED:
                if (transfer->actual_length > 0) {
                    self->inFilled = transfer->actual_length;
                    self->inTaken = 0;
                } else if (!self->closed) {
                    self->SubmitIn();  // a zero-length packet carries nothing
                }
                break;
            case LIBUSB_TRANSFER_CANCELLED:
                break;  // closing
            case LIBUSB_TRANSFER_TIMED_OUT:
                if (!self->closed) self->SubmitIn();
                break;
            case LIBUSB_TRANSFER_STALL:
                self->MarkStalled(self->inHalted);
                break;
            default:  // NO_DEVICE, ERROR, OVERFLOW
                self->failed = true;
                break;
        }
        self->Wake();
        self->changed.notify_all();
    }

    static void LIBUSB_CALL OnOut(libusb_transfer* transfer) {
        auto* self = static_cast<Impl*>(transfer->user_data);
        std::lock_guard<std::mutex> lock(self->mut);
        self->outFlight = false;
        self->outStatus = transfer->status;
        self->outActual = transfer->actual_length;
        if (transfer->status == LIBUSB_TRANSFER_NO_DEVICE) self->failed = true;
        self->changed.notify_all();
    }
};

BulkUsbLink::BulkUsbLink(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

BulkUsbLink::~BulkUsbLink() {
    Close();
    // Rare: a transfer never came back; its callback would find freed memory.
    if (impl_->abandoned) (void)impl_.release();
}

std::shared_ptr<BulkUsbLink> BulkUsbLink::Open(const std::string& path,
                                               const std::vector<UsbId>& ids,
                                               BulkOpenError* error) {
    auto fail = [error](BulkOpenError e) {
        if (error) *error = e;
        return std::shared_ptr<BulkUsbLink>();
    };
    if (error) *error = BulkOpenError::None;
    const auto where = ParsePath(path);
    std::vector<UsbId> wanted = ids;
    if (wanted.empty()) {
        std::lock_guard<std::mutex> lock(ListedMutex());
        if (auto it = Listed().find(path); it != Listed().end()) wanted.push_back(it->second);
    }
    if (!where || wanted.empty()) return fail(BulkOpenError::NotFound);
    auto context = UsbContext::Acquire();
    if (!context) return fail(BulkOpenError::Failed);
    libusb_device* device = FindDevice(context->get(), *where, wanted);
    if (!device) return fail(BulkOpenError::NotFound);

    auto impl = std::make_unique<Impl>();
    impl->context = context;
    const int opened = libusb_open(device, &impl->handle);
    const auto interface = opened == 0 ? FindBulkInterface(device) : std::nullopt;
    libusb_unref_device(device);
    if (opened != 0) return fail(ErrorOf(opened));
    if (!interface) return fail(BulkOpenError::NoBulkInterface);
    impl->interface = *interface;

    // A bound kernel driver is detached on claim and attached again on release.
    libusb_set_auto_detach_kernel_driver(impl->handle, 1);
    // usbfs claims are exclusive: a second claim, from any program, fails with BUSY.
    const int claim = libusb_claim_interface(impl->handle, interface->number);
    if (claim != 0) return fail(ErrorOf(claim));
    impl->claimed = true;
    // A halt left by an earlier run (or program) would fail the first transfer.
    libusb_clear_halt(impl->handle, interface->in);
    libusb_clear_halt(impl->handle, interface->out);

    impl->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    impl->in = libusb_alloc_transfer(0);
    impl->out = libusb_alloc_transfer(0);
    if (impl->wakeFd < 0 || !impl->in || !impl->out || !context->StartEvents()) {
        return fail(BulkOpenError::Failed);
    }
    impl->inBuffer.resize(kInBufferSize);
    libusb_fill_bulk_transfer(impl->in, impl->handle, interface->in, impl->inBuffer.data(),
                              kInBufferSize, Impl::OnIn, impl.get(), 0);
    {
        std::lock_guard<std::mutex> lock(impl->mut);
        impl->SubmitIn();
        if (impl->failed) return fail(BulkOpenError::NotFound);
    }
    return std::make_shared<BulkUsbLink>(std::move(impl));
}

bool BulkUsbLink::Read(uint8_t* buffer, int32_t length, int32_t& bytesRead, int stopFd) {
    bytesRead = 0;
    Impl& s = *impl_;
    if (length <= 0 || buffer == nullptr) return true;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(s.mut);
            if (s.closed) return true;
            if (s.inTaken < s.inFilled) {
                const int n = std::min(length, s.inFilled - s.inTaken);
                std::memcpy(buffer, s.inBuffer.data() + s.inTaken, static_cast<size_t>(n));
                s.inTaken += n;
                bytesRead = n;
                if (s.inTaken == s.inFilled) {
                    s.inTaken = s.inFilled = 0;
                    if (!s.failed) s.SubmitIn();
                }
                return true;
            }
            if (!s.inFlight && !s.failed) s.SubmitIn();
            if (s.failed) {
                s.ClearHalts();
                return false;
            }
        }
        pollfd fds[2] = {{s.wakeFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int r = ::poll(fds, stopFd >= 0 ? 2 : 1, -1);
        if (r < 0 && errno != EINTR) return false;
        if (r <= 0) continue;
        if (stopFd >= 0 && (fds[1].revents & POLLIN)) return true;
        if (fds[0].revents & POLLIN) {
            uint64_t count;
            ssize_t ignored = ::read(s.wakeFd, &count, sizeof count);
            (void)ignored;
        }
    }
}

bool BulkUsbLink::Write(const uint8_t* buffer, int32_t length, uint32_t limitMs) {
    if (length <= 0 || buffer == nullptr) return false;
    Impl& s = *impl_;
    std::lock_guard<std::mutex> writeLock(s.writeMut);
    std::unique_lock<std::mutex> lock(s.mut);
    const auto bound = std::chrono::milliseconds(limitMs) + std::chrono::seconds(1);
    // Only after an abandoned write: wait for its transfer before reusing it.
    if (!s.changed.wait_for(lock, bound, [&] { return !s.outFlight; })) return false;
    if (s.closed || s.failed) return false;
    // usbfs copies OUT data when the transfer is submitted; the buffer is not written.
    libusb_fill_bulk_transfer(s.out, s.handle, s.interface.out, const_cast<uint8_t*>(buffer),
                              length, Impl::OnOut, &s, limitMs);
    // The device refused the data: the link fails, and the reader learns why.
    auto stall = [&s] {
        s.MarkStalled(s.outHalted);
        s.ClearHalts();
        s.Wake();
        s.changed.notify_all();
        return false;
    };
    const int submitted = libusb_submit_transfer(s.out);
    if (submitted == LIBUSB_ERROR_PIPE) return stall();
    if (submitted != 0) return false;
    s.outFlight = true;
    // libusb cancels the transfer at its time-out; the extra second guards a lost callback.
    if (!s.changed.wait_for(lock, bound, [&] { return !s.outFlight; })) {
        libusb_cancel_transfer(s.out);
        s.changed.wait_for(lock, kCancelWait, [&] { return !s.outFlight; });
        return false;
    }
    if (s.outStatus == LIBUSB_TRANSFER_STALL) return stall();
    return s.outStatus == LIBUSB_TRANSFER_COMPLETED && s.outActual == length;
}

void BulkUsbLink::CancelWrite() {
    Impl& s = *impl_;
    std::lock_guard<std::mutex> lock(s.mut);
    if (s.outFlight) libusb_cancel_transfer(s.out);
}

void BulkUsbLink::Close() {
    Impl& s = *impl_;
    std::unique_lock<std::mutex> lock(s.mut);
    if (s.closed) return;
    s.closed = true;
    if (s.inFlight) libusb_cancel_transfer(s.in);
    if (s.outFlight) libusb_cancel_transfer(s.out);
    s.Wake();
    if (!s.changed.wait_for(lock, kCancelWait, [&] { return !s.inFlight && !s.outFlight; })) {
        s.abandoned = true;
        return;
    }
    lock.unlock();
    if (s.claimed) libusb_release_interface(s.handle, s.interface.number);
    s.claimed = false;
    libusb_close(s.handle);
    s.handle = nullptr;
}

bool BulkUsbLink::IsOpen() const {
    std::lock_guard<std::mutex> lock(impl_->mut);
    return !impl_->closed;
}

bool BulkUsbLink::Stalled() const {
    std::lock_guard<std::mutex> lock(impl_->mut);
    return impl_->stalled;
}

int BulkUsbLink::InterfaceNumber() const {
    return impl_->interface.number;
}
uint8_t BulkUsbLink::InEndpoint() const {
    return impl_->interface.in;
}
uint8_t BulkUsbLink::OutEndpoint() const {
    return impl_->interface.out;
}

struct BulkUsbHotplug::State {
    std::mutex mut;
    bool stopped = false;
    std::vector<UsbId> ids;
    std::function<void()> onChange;
    std::shared_ptr<UsbContext> context;
    libusb_hotplug_callback_handle handle = 0;

    static int LIBUSB_CALL OnEvent(libusb_context*, libusb_device* device, libusb_hotplug_event,
                                   void* user) {
        auto* self = static_cast<State*>(user);
        const auto id = IdOf(device);
        std::lock_guard<std::mutex> lock(self->mut);
        if (self->stopped || !id || !ContainsUsbId(self->ids, *id)) return 0;
        try {
            if (self->onChange) self->onChange();
        } catch (...) {
            // libusb's event thread must not unwind.
        }
        return 0;
    }
};

BulkUsbHotplug::BulkUsbHotplug(std::vector<UsbId> ids, std::function<void()> onChange)
    : ids_(std::move(ids)), onChange_(std::move(onChange)) {}

BulkUsbHotplug::~BulkUsbHotplug() {
    Stop();
}

bool BulkUsbHotplug::Start() {
    if (state_) return true;
    if (ids_.empty() || !libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) return false;
    auto state = std::make_shared<State>();
    state->context = UsbContext::Acquire();
    if (!state->context) return false;
    state->ids = ids_;
    state->onChange = onChange_;
    const int r = libusb_hotplug_register_callback(
        state->context->get(),
        static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                          LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
        static_cast<libusb_hotplug_flag>(0), LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
        LIBUSB_HOTPLUG_MATCH_ANY, State::OnEvent, state.get(), &state->handle);
    if (r != LIBUSB_SUCCESS) return false;
    state_ = std::move(state);
    if (!state_->context->StartEvents()) {
        Stop();
        return false;
    }
    return true;
}

void BulkUsbHotplug::Stop() {
    if (!state_) return;
    {
        // Waits for a callback in progress; later ones see `stopped`.
        std::lock_guard<std::mutex> lock(state_->mut);
        state_->stopped = true;
    }
    auto context = std::move(state_->context);
    libusb_hotplug_deregister_callback(context->get(), state_->handle);
    context->Retire(std::move(state_));
}

}  // namespace transport
