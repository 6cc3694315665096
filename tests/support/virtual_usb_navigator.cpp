#include "support/virtual_usb_navigator.h"

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/tick.h"

namespace testsupport {

namespace {

constexpr size_t kNodeChunk = 4096;

[[noreturn]] void Fail(const std::string& what, GError* error) {
    std::string text = what + (error ? std::string(": ") + error->message : std::string());
    if (error) g_error_free(error);
    throw std::runtime_error(text);
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        text += two;
    }
    return text;
}

void Le16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Endpoint(std::vector<uint8_t>& out, uint8_t address, uint8_t type, uint16_t size) {
    out.insert(out.end(), {7, 5, address, type});
    Le16(out, size);
    out.push_back(type == 3 ? 10 : 0);
}

// Device, configuration, interface and endpoint descriptors, as sysfs "descriptors" has them.
std::vector<uint8_t> Descriptors(const VirtualUsbOptions& o) {
    std::vector<uint8_t> device = {18, 1, 0x00, 0x02, 0, 0, 0, 64};
    Le16(device, o.vendor);
    Le16(device, o.product);
    device.insert(device.end(), {0x00, 0x01, 0, 0, 0, 1});

    std::vector<uint8_t> body;
    uint8_t interfaces = 0;
    uint8_t bulkNumber = 0x01;
    if (o.leadingInterruptInterface) {
        body.insert(body.end(), {9, 4, interfaces++, 0, 1, 0xFF, 0, 0, 0});
        Endpoint(body, 0x83, 3, 8);
        bulkNumber = 0x02;
    }
    body.insert(body.end(), {9, 4, interfaces++, 0, static_cast<uint8_t>(o.withoutBulkOut ? 1 : 2),
                             0xFF, 0, 0, 0});
    Endpoint(body, static_cast<uint8_t>(0x80 | bulkNumber), 2, 512);
    if (!o.withoutBulkOut) Endpoint(body, bulkNumber, 2, 512);

    std::vector<uint8_t> config = {9, 2};
    Le16(config, static_cast<uint16_t>(9 + body.size()));
    config.insert(config.end(), {interfaces, 1, 0, 0x80, 50});
    config.insert(config.end(), body.begin(), body.end());
    device.insert(device.end(), config.begin(), config.end());
    return device;
}

usbdevfs_urb* Fields(UMockdevIoctlData* data) {
    return reinterpret_cast<usbdevfs_urb*>(data->data);
}

}  // namespace

UsbTestbed::UsbTestbed() : testbed_(umockdev_testbed_new()) {
    if (!umockdev_in_mock_environment()) {
        g_object_unref(testbed_);
        throw std::runtime_error("not running under umockdev's preload (umockdev-wrapper)");
    }
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    root_ = root;
    g_free(root);
}

UsbTestbed::~UsbTestbed() {
    // Removes the emulated /sys and /dev.
    g_object_unref(testbed_);
}

VirtualUsbNavigator::VirtualUsbNavigator(UsbTestbed& testbed, VirtualUsbOptions options)
    : testbed_(testbed), options_(std::move(options)), model_(options_.device) {
    boundDriver_ = options_.driver;
    server_ = std::thread([this] { Serve(); });
    if (options_.plugged) Plug();
}

VirtualUsbNavigator::~VirtualUsbNavigator() {
    {
        std::lock_guard<std::mutex> lock(mut_);
        stopping_ = true;
    }
    changed_.notify_all();
    server_.join();
    if (handler_) {
        g_signal_handlers_disconnect_by_data(handler_, this);
        if (!gone_) {
            umockdev_testbed_detach_ioctl(testbed_.get(), DevNode().c_str(), nullptr);
            umockdev_testbed_remove_device(testbed_.get(), syspath_.c_str());
        }
        g_object_unref(handler_);
    }
    for (Urb& urb : pendingIn_) Release(urb);
    for (Urb& urb : pendingOut_) Release(urb);
    for (auto& [client, queue] : reapable_) {
        for (Urb& urb : queue) Release(urb);
    }
    if (nodeFd_ >= 0) ::close(nodeFd_);
}

std::string VirtualUsbNavigator::Path() const {
    char text[16];
    std::snprintf(text, sizeof text, "usb:001-%03u", options_.address);
    return text;
}

std::string VirtualUsbNavigator::DevNode() const {
    char text[32];
    std::snprintf(text, sizeof text, "/dev/bus/usb/001/%03u", options_.address);
    return text;
}

std::string VirtualUsbNavigator::Record() const {
    const unsigned a = options_.address;
    char number[8];
    std::snprintf(number, sizeof number, "%03u", a);
    const std::string devnum = number;
    return "P: /devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(a) +
           "\n"
           "N: bus/usb/001/" +
           devnum +
           "\n"
           "E: SUBSYSTEM=usb\n"
           "E: DEVTYPE=usb_device\n"
           "E: DEVNAME=/dev/bus/usb/001/" +
           devnum + "\nE: BUSNUM=001\nE: DEVNUM=" + devnum +
           "\nE: MAJOR=189\nE: MINOR=" + std::to_string(a - 1) +
           "\nA: busnum=1\nA: devnum=" + std::to_string(a) + "\nA: idVendor=" +
           Hex({static_cast<uint8_t>(options_.vendor >> 8),
                static_cast<uint8_t>(options_.vendor)}) +
           "\nA: idProduct=" +
           Hex({static_cast<uint8_t>(options_.product >> 8),
                static_cast<uint8_t>(options_.product)}) +
           "\nA: speed=480\nA: bConfigurationValue=1\nA: dev=189:" + std::to_string(a - 1) +
           "\nH: descriptors=" + Hex(Descriptors(options_)) + "\n";
}

void VirtualUsbNavigator::Plug() {
    if (plugged_) return;
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_.get(), Record().c_str(), &error)) {
        Fail("cannot add the virtual USB device", error);
    }
    syspath_ = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(options_.address);
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(OnIoctl), this);
    g_signal_connect(handler_, "client-vanished", G_CALLBACK(OnVanished), this);
    if (!umockdev_testbed_attach_ioctl(testbed_.get(), DevNode().c_str(), handler_, &error)) {
        Fail("cannot attach the usbdevfs handler", error);
    }
    // umockdev's node always polls ready, which would make libusb spin on reaps. A full FIFO in
    // its place polls ready exactly while a transfer can be reaped (UpdatePollNode).
    const std::string node = testbed_.Root() + DevNode();
    ::unlink(node.c_str());
    if (::mkfifo(node.c_str(), 0666) != 0) throw std::runtime_error("mkfifo " + node);
    nodeFd_ = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (nodeFd_ < 0) throw std::runtime_error("open " + node);
    const std::vector<char> fill(kNodeChunk, 0);
    while (::write(nodeFd_, fill.data(), fill.size()) > 0) {
    }
    std::lock_guard<std::mutex> lock(mut_);
    plugged_ = true;
}

void VirtualUsbNavigator::Unplug() {
    {
        std::lock_guard<std::mutex> lock(mut_);
        if (!plugged_ || gone_) return;
        gone_ = true;
        // Transfers in flight end with ENODEV, as usbfs ends them; later ioctls fail.
        for (std::deque<Urb>* queue : {&pendingIn_, &pendingOut_}) {
            for (Urb& urb : *queue) {
                Fields(urb.data)->status = -ENODEV;
                Fields(urb.data)->actual_length = 0;
                MarkReapable(urb);
            }
            queue->clear();
        }
        claims_.clear();
        UpdatePollNode();
    }
    changed_.notify_all();
    umockdev_testbed_uevent(testbed_.get(), syspath_.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_.get(), syspath_.c_str());
}

void VirtualUsbNavigator::Send(std::vector<uint8_t> bytes) {
    {
        std::lock_guard<std::mutex> lock(mut_);
        outgoing_.push_back(Piece{std::move(bytes), platform::TickCount(), false});
    }
    changed_.notify_all();
}

std::vector<uint8_t> VirtualUsbNavigator::Received() const {
    std::lock_guard<std::mutex> lock(mut_);
    return received_;
}

bool VirtualUsbNavigator::WaitForReceived(size_t bytes, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mut_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return received_.size() >= bytes; });
}

bool VirtualUsbNavigator::WaitForFrames(uint32_t count, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mut_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return model_.FramesReceived() >= count; });
}

std::vector<unsigned long> VirtualUsbNavigator::Requests() const {
    std::lock_guard<std::mutex> lock(mut_);
    return requests_;
}

bool VirtualUsbNavigator::Saw(unsigned long request) const {
    for (unsigned long r : Requests()) {
        if (r == request) return true;
    }
    return false;
}

size_t VirtualUsbNavigator::PendingIn() const {
    std::lock_guard<std::mutex> lock(mut_);
    return pendingIn_.size();
}

bool VirtualUsbNavigator::WaitForPendingIn(size_t count, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mut_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return pendingIn_.size() >= count; });
}

std::string VirtualUsbNavigator::BoundDriver() const {
    std::lock_guard<std::mutex> lock(mut_);
    return boundDriver_;
}

gboolean VirtualUsbNavigator::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client,
                                      gpointer self) {
    static_cast<VirtualUsbNavigator*>(self)->HandleIoctl(client);
    return TRUE;
}

void VirtualUsbNavigator::OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client,
                                     gpointer self) {
    auto* nav = static_cast<VirtualUsbNavigator*>(self);
    std::lock_guard<std::mutex> lock(nav->mut_);
    // A closed file releases its claims and discards its transfers, as usbfs does.
    std::erase_if(nav->claims_, [client](const auto& claim) { return claim.second == client; });
    for (std::deque<Urb>* queue : {&nav->pendingIn_, &nav->pendingOut_}) {
        std::erase_if(*queue, [client](Urb& urb) {
            if (urb.client != client) return false;
            Release(urb);
            return true;
        });
    }
    if (auto it = nav->reapable_.find(client); it != nav->reapable_.end()) {
        for (Urb& urb : it->second) Release(urb);
        nav->reapable_.erase(it);
    }
    nav->UpdatePollNode();
}

void VirtualUsbNavigator::HandleIoctl(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> lock(mut_);
    requests_.push_back(request);
    changed_.notify_all();
    if (gone_) {
        // What was delivered before may still be reaped; everything else fails.
        if (request == USBDEVFS_REAPURBNDELAY && !reapable_[client].empty()) {
            Reap(client, arg);
        } else {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
        }
        return;
    }
    // Resolves the client's argument struct; the caller unrefs it.
    auto resolve = [arg](size_t size) {
        return umockdev_ioctl_data_resolve(arg, 0, size, nullptr);
    };
    long result = 0;
    int error = 0;
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* caps = resolve(sizeof(uint32_t));
            const uint32_t value = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
            std::memcpy(caps->data, &value, sizeof value);
            umockdev_ioctl_client_complete(client, 0, 0);
            g_object_unref(caps);
            return;
        }
        case USBDEVFS_GETDRIVER: {
            if (boundDriver_.empty()) {
                result = -1;
                error = ENODATA;
                break;
            }
            UMockdevIoctlData* data = resolve(sizeof(usbdevfs_getdriver));
            auto* d = reinterpret_cast<usbdevfs_getdriver*>(data->data);
            std::snprintf(d->driver, sizeof d->driver, "%s", boundDriver_.c_str());
            umockdev_ioctl_client_complete(client, 0, 0);
            g_object_unref(data);
            return;
        }
        case USBDEVFS_DISCONNECT_CLAIM: {
            UMockdevIoctlData* data = resolve(sizeof(usbdevfs_disconnect_claim));
            const unsigned interface =
                reinterpret_cast<usbdevfs_disconnect_claim*>(data->data)->interface;
            g_object_unref(data);
            if (Claim(client, interface)) {
                boundDriver_.clear();
            } else {
                result = -1;
                error = EBUSY;
            }
            break;
        }
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE: {
            UMockdevIoctlData* data = resolve(sizeof(unsigned));
            unsigned interface;
            std::memcpy(&interface, data->data, sizeof interface);
            g_object_unref(data);
            if (request == USBDEVFS_RELEASEINTERFACE) {
                auto it = claims_.find(interface);
                if (it != claims_.end() && it->second == client) claims_.erase(it);
            } else if (!Claim(client, interface)) {
                result = -1;
                error = EBUSY;
            }
            break;
        }
        case USBDEVFS_IOCTL: {
            UMockdevIoctlData* data = resolve(sizeof(usbdevfs_ioctl));
            const int code = reinterpret_cast<usbdevfs_ioctl*>(data->data)->ioctl_code;
            g_object_unref(data);
            if (code == static_cast<int>(USBDEVFS_CONNECT)) {
                boundDriver_ = options_.driver;  // the kernel driver takes the interface back
            } else {
                result = -1;
                error = ENOTTY;
            }
            break;
        }
        case USBDEVFS_CLEAR_HALT: {
            UMockdevIoctlData* data = resolve(sizeof(unsigned));
            unsigned endpoint;
            std::memcpy(&endpoint, data->data, sizeof endpoint);
            g_object_unref(data);
            halted_[(endpoint & 0x80) != 0 ? 1 : 0] = false;
            break;
        }
        case USBDEVFS_SUBMITURB:
            Submit(client, arg);
            return;
        case USBDEVFS_REAPURBNDELAY:
            Reap(client, arg);
            return;
        case USBDEVFS_DISCARDURB:
            Discard(client, arg);
            return;
        default:
            result = -1;
            error = ENOTTY;
            break;
    }
    umockdev_ioctl_client_complete(client, result, error);
}

bool VirtualUsbNavigator::Claim(UMockdevIoctlClient* client, unsigned interface) {
    auto [it, added] = claims_.emplace(interface, client);
    return added || it->second == client;
}

void VirtualUsbNavigator::Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    Urb urb;
    std::memcpy(&urb.clientAddress, arg->data, sizeof urb.clientAddress);
    urb.data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    usbdevfs_urb* u = Fields(urb.data);
    const bool in = (u->endpoint & 0x80) != 0;
    const uint8_t bulkNumber = options_.leadingInterruptInterface ? 0x02 : 0x01;
    if (u->type != USBDEVFS_URB_TYPE_BULK || (u->endpoint & 0x7F) != bulkNumber ||
        u->buffer_length < 0) {
        g_object_unref(urb.data);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    if (u->buffer_length > 0) {
        urb.buffer = umockdev_ioctl_data_resolve(urb.data, offsetof(usbdevfs_urb, buffer),
                                                 static_cast<size_t>(u->buffer_length), nullptr);
    }
    urb.client = UMOCKDEV_IOCTL_CLIENT(g_object_ref(client));
    if (halted_[in ? 1 : 0]) {
        Stall(urb);
    } else if (in) {
        pendingIn_.push_back(urb);
    } else if (takesOutput_) {
        TakeOutput(urb);
    } else {
        pendingOut_.push_back(urb);
    }
    umockdev_ioctl_client_complete(client, 0, 0);
    changed_.notify_all();
}

void VirtualUsbNavigator::Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    auto it = reapable_.find(client);
    if (it == reapable_.end() || it->second.empty()) {
        umockdev_ioctl_client_complete(client, -1, gone_ ? ENODEV : EAGAIN);
        return;
    }
    Urb urb = it->second.front();
    it->second.pop_front();
    // The argument points at the client's pointer variable; it must end up holding the URB.
    UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    umockdev_ioctl_data_set_ptr(pointer, 0, urb.data);
    UpdatePollNode();
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(pointer);
    Release(urb);
}

void VirtualUsbNavigator::Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    uint64_t address;
    std::memcpy(&address, arg->data, sizeof address);
    for (std::deque<Urb>* queue : {&pendingIn_, &pendingOut_}) {
        for (auto it = queue->begin(); it != queue->end(); ++it) {
            if (it->client != client || it->clientAddress != address) continue;
            Urb urb = *it;
            queue->erase(it);
            Fields(urb.data)->status = -ENOENT;
            Fields(urb.data)->actual_length = 0;
            MarkReapable(urb);
            umockdev_ioctl_client_complete(client, 0, 0);
            return;
        }
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
}

void VirtualUsbNavigator::TakeOutput(Urb urb) {
    usbdevfs_urb* u = Fields(urb.data);
    const uint8_t* bytes = urb.buffer ? urb.buffer->data : nullptr;
    const size_t length = static_cast<size_t>(u->buffer_length);
    if (length > 0) {
        received_.insert(received_.end(), bytes, bytes + length);
        const uint32_t now = platform::TickCount();
        Schedule(model_.Feed({bytes, length}, now), now);
    }
    u->actual_length = u->buffer_length;
    u->status = 0;
    MarkReapable(urb);
}

void VirtualUsbNavigator::Stall(Urb urb) {
    Fields(urb.data)->status = -EPIPE;
    Fields(urb.data)->actual_length = 0;
    MarkReapable(urb);
}

void VirtualUsbNavigator::Halt(bool in) {
    {
        std::lock_guard<std::mutex> lock(mut_);
        halted_[in ? 1 : 0] = true;
        std::deque<Urb>& pending = in ? pendingIn_ : pendingOut_;
        for (Urb& urb : pending) Stall(urb);
        pending.clear();
    }
    changed_.notify_all();
}

bool VirtualUsbNavigator::Halted(bool in) const {
    std::lock_guard<std::mutex> lock(mut_);
    return halted_[in ? 1 : 0];
}

void VirtualUsbNavigator::SetTakesOutput(bool takes) {
    {
        std::lock_guard<std::mutex> lock(mut_);
        takesOutput_ = takes;
        if (takes) {
            for (Urb& urb : pendingOut_) TakeOutput(urb);
            pendingOut_.clear();
        }
    }
    changed_.notify_all();
}

void VirtualUsbNavigator::MarkReapable(Urb urb) {
    reapable_[urb.client].push_back(urb);
    UpdatePollNode();
}

void VirtualUsbNavigator::UpdatePollNode() {
    if (nodeFd_ < 0) return;
    // Not ready while nothing can be reaped, also after an unplug: libusb would reap in a loop.
    bool want = false;
    for (const auto& [client, queue] : reapable_) want = want || !queue.empty();
    std::vector<char> chunk(kNodeChunk);
    if (want && !nodeDrained_) {
        nodeDrained_ = ::read(nodeFd_, chunk.data(), chunk.size()) > 0;
    } else if (!want && nodeDrained_) {
        nodeDrained_ = ::write(nodeFd_, chunk.data(), chunk.size()) <= 0;
    }
}

void VirtualUsbNavigator::Release(Urb& urb) {
    if (urb.buffer) g_object_unref(urb.buffer);
    if (urb.data) g_object_unref(urb.data);
    if (urb.client) g_object_unref(urb.client);
    urb = Urb{};
}

void VirtualUsbNavigator::Schedule(const sim::FeedResult& result, uint32_t now) {
    for (const sim::Reply& reply : result.replies) {
        uint32_t due = now + reply.delayMs;
        if (!outgoing_.empty() && platform::TickDiff(outgoing_.back().due, due) > 0) {
            due = outgoing_.back().due;  // keep the order
        }
        const size_t step = reply.splitBytes == 0 ? reply.bytes.size() : reply.splitBytes;
        for (size_t at = 0; at < reply.bytes.size(); at += step) {
            const size_t length = std::min(step, reply.bytes.size() - at);
            outgoing_.push_back(
                Piece{{reply.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       reply.bytes.begin() + static_cast<std::ptrdiff_t>(at + length)},
                      due,
                      false});
            due += reply.splitGapMs;
        }
    }
    if (result.vanish) outgoing_.push_back(Piece{{}, now, true});
}

void VirtualUsbNavigator::DeliverDue(uint32_t now) {
    while (!outgoing_.empty() && platform::TickReached(now, outgoing_.front().due)) {
        Piece& piece = outgoing_.front();
        if (piece.vanish) return;  // Serve unplugs
        if (pendingIn_.empty()) return;
        Urb urb = pendingIn_.front();
        pendingIn_.pop_front();
        usbdevfs_urb* u = Fields(urb.data);
        // A device write ends the transfer with a short packet; a longer one spans transfers.
        const size_t n = std::min(piece.bytes.size(), static_cast<size_t>(u->buffer_length));
        if (n > 0) std::memcpy(urb.buffer->data, piece.bytes.data(), n);
        u->actual_length = static_cast<int>(n);
        u->status = 0;
        piece.bytes.erase(piece.bytes.begin(),
                          piece.bytes.begin() + static_cast<std::ptrdiff_t>(n));
        if (piece.bytes.empty()) outgoing_.pop_front();
        MarkReapable(urb);
    }
}

void VirtualUsbNavigator::RunTimer(uint32_t now) {
    const auto interval = model_.TimerIntervalMs();
    if (!interval) {
        nextTimer_.reset();
        return;
    }
    if (!nextTimer_) {
        nextTimer_ = now + *interval;
    } else if (platform::TickReached(now, *nextTimer_)) {
        Schedule(model_.Timer(now), now);
        nextTimer_.reset();
    }
}

void VirtualUsbNavigator::Serve() {
    std::unique_lock<std::mutex> lock(mut_);
    while (!stopping_) {
        const uint32_t now = platform::TickCount();
        if (!gone_) {
            RunTimer(now);
            DeliverDue(now);
        }
        if (!gone_ && !outgoing_.empty() && outgoing_.front().vanish &&
            platform::TickReached(now, outgoing_.front().due)) {
            outgoing_.clear();
            lock.unlock();
            Unplug();
            lock.lock();
            continue;
        }
        std::optional<uint32_t> wake = nextTimer_;
        if (!outgoing_.empty() && !pendingIn_.empty()) {
            const uint32_t due = outgoing_.front().due;
            if (!wake || platform::TickDiff(*wake, due) > 0) wake = due;
        }
        if (wake) {
            changed_.wait_for(lock, std::chrono::milliseconds(platform::TickRemaining(now, *wake)));
        } else {
            changed_.wait(lock);
        }
    }
}

}  // namespace testsupport
