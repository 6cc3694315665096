// The libusb link against a virtual navigator: enumeration, open and claim, reads, writes,
// closing, time-outs, unplugging and hotplug.
#include <gtest/gtest.h>
#include <linux/usbdevice_fs.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_test_support.h"
#include "support/virtual_usb_navigator.h"
#include "transport/usb_bulk_link.h"

namespace {

using platform::UsbId;
using testsupport::UsbTestbed;
using testsupport::VirtualUsbNavigator;
using testsupport::VirtualUsbOptions;
using transport::BulkOpenError;
using transport::BulkUsbLink;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

const UsbId kNavigatorId{testsupport::kTestVendor, testsupport::kTestProduct};
const UsbId kOtherId{0x1234, 0x5678};

std::vector<std::string> Paths(const std::vector<UsbId>& ids) {
    std::vector<std::string> paths;
    for (const auto& device : transport::ListBulkUsbDevices(ids)) paths.push_back(device.path);
    return paths;
}

// Longest wait for a read that should end; past it the test fails instead of hanging.
constexpr auto kWatchdog = 5s;

// Reads on its own thread, as the connection's reader does.
std::future<std::pair<bool, Bytes>> ReadAsync(std::shared_ptr<BulkUsbLink> link, int32_t length,
                                              int stopFd = -1) {
    return std::async(std::launch::async, [link, length, stopFd] {
        Bytes bytes(static_cast<size_t>(length));
        int32_t n = 0;
        const bool ok = link->Read(bytes.data(), length, n, stopFd);
        bytes.resize(static_cast<size_t>(n));
        return std::make_pair(ok, bytes);
    });
}

// The read's outcome. A read still waiting after kWatchdog fails the test, and closing the
// link ends it.
std::pair<bool, Bytes> Await(std::future<std::pair<bool, Bytes>> read, BulkUsbLink& link) {
    if (read.wait_for(kWatchdog) != std::future_status::ready) {
        ADD_FAILURE() << "a USB read did not end";
        link.Close();
    }
    return read.get();
}

// Takes `count` bytes from the link, however they are split.
Bytes ReadBytes(const std::shared_ptr<BulkUsbLink>& link, size_t count) {
    Bytes all;
    while (all.size() < count) {
        const auto [ok, chunk] = Await(ReadAsync(link, 4096), *link);
        if (!ok || chunk.empty()) break;
        all.insert(all.end(), chunk.begin(), chunk.end());
    }
    return all;
}

VirtualUsbOptions At(uint8_t address) {
    VirtualUsbOptions options;
    options.address = address;
    return options;
}

class LibusbLink : public ::testing::Test {
protected:
    std::unique_ptr<VirtualUsbNavigator> Navigator(VirtualUsbOptions options = {}) {
        return std::make_unique<VirtualUsbNavigator>(bed, std::move(options));
    }
    std::shared_ptr<BulkUsbLink> Open(const std::string& path, BulkOpenError* error = nullptr) {
        return BulkUsbLink::Open(path, {kNavigatorId}, error);
    }

    UsbTestbed bed;
};

TEST_F(LibusbLink, ListsOnlyConfiguredIdsInBusAddressOrder) {
    auto later = Navigator(At(7));
    auto earlier = Navigator(At(3));
    auto twoDigits = Navigator(At(12));  // sorts after 7 only with three digits
    VirtualUsbOptions other;
    other.vendor = kOtherId.vendor;
    other.product = kOtherId.product;
    other.address = 5;
    auto unrelated = Navigator(other);

    const struct {
        std::vector<UsbId> ids;
        std::vector<std::string> paths;
    } cases[] = {
        {{kNavigatorId}, {"usb:001-003", "usb:001-007", "usb:001-012"}},
        {{kOtherId, kNavigatorId}, {"usb:001-003", "usb:001-005", "usb:001-007", "usb:001-012"}},
        {{UsbId{0xC0DE, 0x4201}}, {}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Paths(c.ids), c.paths) << ::testing::PrintToString(c.paths);
    }
}

TEST_F(LibusbLink, ClaimsTheFirstInterfaceWithBulkInAndOutAndTalksToTheModel) {
    const struct {
        bool leadingInterrupt;
        int interface;
        uint8_t in, out;
    } cases[] = {{false, 0, 0x81, 0x01}, {true, 1, 0x82, 0x02}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.interface);
        VirtualUsbOptions options;
        options.leadingInterruptInterface = c.leadingInterrupt;
        auto nav = Navigator(options);
        auto link = Open(nav->Path());
        ASSERT_TRUE(link);
        EXPECT_EQ(link->InterfaceNumber(), c.interface);
        EXPECT_EQ(link->InEndpoint(), c.in);
        EXPECT_EQ(link->OutEndpoint(), c.out);

        const Bytes poll = simtest::VersionPoll();
        EXPECT_TRUE(link->Write(poll.data(), static_cast<int32_t>(poll.size()), 2000));
        // Frame header (6), 64-byte version payload, checksum (2).
        const Bytes reply = ReadBytes(link, 72);
        ASSERT_EQ(reply.size(), 72u);
        EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 4), (Bytes{0xF1, 0xD9, 0x0A, 0x04}));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&reply[6])), "MDL4200 BOOT V2.10");
        EXPECT_EQ(nav->Received(), poll);
        link->Close();
    }
}

TEST_F(LibusbLink, OpenFailuresSayWhy) {
    auto nav = Navigator();
    VirtualUsbOptions withoutOut = At(4);
    withoutOut.withoutBulkOut = true;
    auto noBulkOut = Navigator(withoutOut);

    BulkOpenError error;
    EXPECT_FALSE(Open("usb:001-004", &error));
    EXPECT_EQ(error, BulkOpenError::NoBulkInterface);
    EXPECT_FALSE(BulkUsbLink::Open(nav->Path(), {kOtherId}, &error));
    EXPECT_EQ(error, BulkOpenError::NotFound) << "an id that is not configured is never opened";
    // Malformed paths name no device, not even one whose numbers they hold.
    for (const char* path : {"usb:001-009", "usb:1", "usb:x-2", "/dev/bus/usb/001/002", "",
                             "usb:0001-002", "usb:001-0002", "usb:001-", "usb:001-256"}) {
        EXPECT_FALSE(Open(path, &error)) << path;
        EXPECT_EQ(error, BulkOpenError::NotFound) << path;
    }

    // Exclusive: a second open of a claimed navigator fails until the first closes.
    auto first = Open(nav->Path());
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->IsOpen());
    EXPECT_FALSE(Open(nav->Path(), &error));
    EXPECT_EQ(error, BulkOpenError::Busy);
    first->Close();
    EXPECT_FALSE(first->IsOpen());
    EXPECT_TRUE(Open(nav->Path()));
    auto twoDigits = Navigator(At(12));
    EXPECT_TRUE(Open("usb:001-012"));
}

TEST_F(LibusbLink, NoPermissionIsToldApartWithTheWayToGetIt) {
    auto nav = Navigator();
    const std::string node = bed.Root() + nav->DevNode();
    ASSERT_EQ(::chmod(node.c_str(), 0), 0);
    BulkOpenError error = BulkOpenError::None;
    {
        testsupport::WithoutFileCapabilities unprivileged;
        EXPECT_FALSE(Open(nav->Path(), &error));
    }
    EXPECT_EQ(error, BulkOpenError::NoPermission);
    const std::string text = transport::BulkOpenErrorText(error, nav->Path());
    EXPECT_NE(text.find("usb:001-002"), std::string::npos) << text;
    EXPECT_NE(text.find("caddora-cli udev-rule"), std::string::npos) << text;
    ASSERT_EQ(::chmod(node.c_str(), 0666), 0);
    EXPECT_TRUE(Open(nav->Path()));
}

TEST_F(LibusbLink, DetachesABoundKernelDriverAndGivesItBackOnClose) {
    VirtualUsbOptions bound;
    bound.driver = "cdc_acm";
    auto nav = Navigator(bound);
    auto link = Open(nav->Path());
    ASSERT_TRUE(link);
    EXPECT_TRUE(nav->Saw(USBDEVFS_DISCONNECT_CLAIM));
    EXPECT_EQ(nav->BoundDriver(), "");
    link->Close();
    EXPECT_EQ(nav->BoundDriver(), "cdc_acm");
}

TEST_F(LibusbLink, ReadWaitsForTheDeviceWithoutSpinningAndHandsOutWhatCameInPieces) {
    auto nav = Navigator();
    auto link = Open(nav->Path());
    ASSERT_TRUE(link);
    auto read = ReadAsync(link, 4);
    EXPECT_EQ(read.wait_for(300ms), std::future_status::timeout);
    // Idle: the event thread sleeps on the device node instead of reaping in a loop.
    const auto reapsBefore = nav->Requests().size();
    std::this_thread::sleep_for(500ms);
    EXPECT_LT(nav->Requests().size() - reapsBefore, 10u);

    nav->Send({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    EXPECT_EQ(Await(std::move(read), *link), std::make_pair(true, Bytes{1, 2, 3, 4}));
    const std::pair<bool, Bytes> rest[] = {{true, {5, 6, 7, 8}}, {true, {9, 10}}};
    for (const auto& expected : rest) EXPECT_EQ(Await(ReadAsync(link, 4), *link), expected);
}

TEST_F(LibusbLink, CloseOrStopEndsAPendingReadAtOnceWithNothing) {
    auto nav = Navigator();
    auto link = Open(nav->Path());
    ASSERT_TRUE(link);

    // The stop signal ends the wait, the link stays usable.
    const int stop = ::eventfd(0, EFD_CLOEXEC);
    auto stopped = ReadAsync(link, 16, stop);
    ASSERT_TRUE(nav->WaitForPendingIn(1, 5000));
    uint64_t one = 1;
    ASSERT_EQ(::write(stop, &one, sizeof one), 8);
    ASSERT_EQ(stopped.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(stopped.get(), std::make_pair(true, Bytes{}));
    ::close(stop);
    nav->Send({42});
    EXPECT_EQ(Await(ReadAsync(link, 16), *link), std::make_pair(true, Bytes{42}));

    auto closed = ReadAsync(link, 16);
    ASSERT_TRUE(nav->WaitForPendingIn(1, 5000));
    link->Close();
    ASSERT_EQ(closed.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(closed.get(), std::make_pair(true, Bytes{}));
    EXPECT_TRUE(nav->Saw(USBDEVFS_DISCARDURB));
    const Bytes poll = simtest::VersionPoll();
    EXPECT_FALSE(link->Write(poll.data(), static_cast<int32_t>(poll.size()), 2000));
}

TEST_F(LibusbLink, WriteThatTheDeviceDoesNotTakeIsCancelledAtItsLimit) {
    auto nav = Navigator();
    auto link = Open(nav->Path());
    ASSERT_TRUE(link);
    nav->SetTakesOutput(false);
    const Bytes poll = simtest::VersionPoll();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(link->Write(poll.data(), static_cast<int32_t>(poll.size()), 300));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 290ms);
    EXPECT_LT(took, 3s);
    EXPECT_TRUE(nav->Saw(USBDEVFS_DISCARDURB));
    EXPECT_TRUE(nav->Received().empty());

    // CancelWrite ends a waiting write long before its limit.
    auto write = std::async(std::launch::async, [&] {
        return link->Write(poll.data(), static_cast<int32_t>(poll.size()), 60000);
    });
    std::this_thread::sleep_for(200ms);
    link->CancelWrite();
    ASSERT_EQ(write.wait_for(kWatchdog), std::future_status::ready);
    EXPECT_FALSE(write.get());
    EXPECT_TRUE(nav->Received().empty());

    nav->SetTakesOutput(true);
    EXPECT_FALSE(link->Write(poll.data(), 0, 2000)) << "a zero-length write is refused";
    EXPECT_TRUE(nav->Received().empty());
    EXPECT_TRUE(link->Write(poll.data(), static_cast<int32_t>(poll.size()), 2000));
    EXPECT_EQ(nav->Received(), poll);
}

TEST_F(LibusbLink, StalledEndpointFailsTheLinkAsStalledAndIsClearedForTheNextRun) {
    const Bytes poll = simtest::VersionPoll();
    for (const bool in : {true, false}) {
        SCOPED_TRACE(in ? "IN" : "OUT");
        auto nav = Navigator();
        auto link = Open(nav->Path());
        ASSERT_TRUE(link);
        auto pending = ReadAsync(link, 16);
        ASSERT_TRUE(nav->WaitForPendingIn(1, 5000));
        nav->Halt(in);
        if (!in) {
            EXPECT_FALSE(link->Write(poll.data(), static_cast<int32_t>(poll.size()), 2000));
        }
        EXPECT_FALSE(Await(std::move(pending), *link).first) << "the stall fails the reader";
        EXPECT_TRUE(link->Stalled());
        EXPECT_FALSE(nav->Halted(in)) << "the halt was cleared";
        link->Close();

        // Halted before the open (left by another program): the open clears it.
        nav->Halt(!in);
        link = Open(nav->Path());
        ASSERT_TRUE(link);
        EXPECT_FALSE(nav->Halted(!in));
        EXPECT_TRUE(link->Write(poll.data(), static_cast<int32_t>(poll.size()), 2000));
        EXPECT_EQ(ReadBytes(link, 72).size(), 72u);
        EXPECT_FALSE(link->Stalled());
        link->Close();
    }
}

TEST_F(LibusbLink, UnplugFailsThePendingReadAndEverythingAfter) {
    auto nav = Navigator();
    auto link = Open(nav->Path());
    ASSERT_TRUE(link);
    nav->Send({7, 7});
    EXPECT_EQ(Await(ReadAsync(link, 16), *link), std::make_pair(true, Bytes{7, 7}));

    auto pending = ReadAsync(link, 16);
    ASSERT_TRUE(nav->WaitForPendingIn(1, 5000));
    nav->Unplug();
    EXPECT_FALSE(Await(std::move(pending), *link).first);
    EXPECT_FALSE(Await(ReadAsync(link, 16), *link).first)
        << "a vanished device never reads 0 for ever";
    EXPECT_FALSE(link->Stalled()) << "gone, not stalled";
    const Bytes poll = simtest::VersionPoll();
    EXPECT_FALSE(link->Write(poll.data(), static_cast<int32_t>(poll.size()), 2000));
    EXPECT_TRUE(Paths({kNavigatorId}).empty());
    link->Close();
}

TEST_F(LibusbLink, HotplugReportsConfiguredDevicesComingAndGoing) {
    std::mutex mut;
    std::condition_variable cv;
    int changes = 0;
    transport::BulkUsbHotplug hotplug({kNavigatorId}, [&] {
        std::lock_guard<std::mutex> lock(mut);
        ++changes;
        cv.notify_all();
    });
    ASSERT_TRUE(hotplug.Start());
    auto waitFor = [&](int count) {
        std::unique_lock<std::mutex> lock(mut);
        return cv.wait_for(lock, 10s, [&] { return changes >= count; });
    };

    VirtualUsbOptions other;
    other.vendor = kOtherId.vendor;
    other.address = 9;
    auto unrelated = Navigator(other);
    VirtualUsbOptions later;
    later.plugged = false;
    auto nav = Navigator(later);
    nav->Plug();
    ASSERT_TRUE(waitFor(1));
    EXPECT_EQ(Paths({kNavigatorId}), std::vector<std::string>{nav->Path()});
    nav->Unplug();
    ASSERT_TRUE(waitFor(2));
    hotplug.Stop();
    std::lock_guard<std::mutex> lock(mut);
    EXPECT_EQ(changes, 2) << "the unrelated device is not reported";
}

}  // namespace
