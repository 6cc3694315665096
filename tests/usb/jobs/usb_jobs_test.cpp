// Whole jobs of caddora-cli over the libusb link, against a virtual USB navigator served by this
// process; caddora-cli inherits umockdev's preload and test bed. The same jobs over the pty
// simulator give the reference.
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include <future>
#include <thread>

#include "e2e/job_run_support.h"
#include "sim/frame_journal.h"
#include "sim/point_records.h"
#include "support/virtual_usb_navigator.h"
#include "transport/usb_udev_rule.h"

namespace {

using e2e::CliRun;
using e2e::kQuickPatch;
using e2e::Slurp;
using e2e::With;

constexpr char kIds[] = "c0de:4200";
const std::string kDone = "データの書込みが完了しました。";

sim::DeviceConfig QuickPatchWithPoints(size_t count) {
    sim::DeviceConfig device;
    device.mode = sim::DeviceMode::Patch;
    device.versionText = kQuickPatch.back();
    device.points = sim::EncodePointRecords(sim::SyntheticPoints(count));
    return device;
}

std::string JournalText(const std::vector<sim::JournalEntry>& journal) {
    std::string text;
    for (const auto& entry : journal) text += sim::FormatJournalLine(entry) + "\n";
    return text;
}

size_t CsvRows(const std::string& csv) {
    size_t lines = 0;
    for (size_t at = csv.find("\r\n"); at != std::string::npos; at = csv.find("\r\n", at + 2)) {
        ++lines;
    }
    return lines == 0 ? 0 : lines - 1;
}

class UsbJobs : public e2e::JobRun {
protected:
    void SetUp() override {
        JobRun::SetUp();
        ::setenv("CADDORA_USB_IDS", kIds, 1);
    }
    void TearDown() override {
        ::unsetenv("CADDORA_USB_IDS");
        JobRun::TearDown();
    }

    testsupport::UsbTestbed bed;
};

TEST_F(UsbJobs, PointImportOverUsbReadsAndWritesWhatThePtyRunDoes) {
    constexpr size_t kPoints = 150;
    StartSim(With(kQuickPatch, {"--synthetic-points", std::to_string(kPoints)}));
    const CliRun pty = Cli({"import-points", "--out", Path("pty.csv")});
    StopSim();
    ASSERT_EQ(pty.status, 0) << pty.err;

    testsupport::VirtualUsbOptions options;
    options.device = QuickPatchWithPoints(kPoints);
    testsupport::VirtualUsbNavigator nav(bed, options);
    const CliRun usb = Cli({"import-points", "--out", Path("usb.csv")});
    ASSERT_EQ(usb.status, 0) << usb.out << usb.err;
    EXPECT_NE(usb.out.find(kDone), std::string::npos) << usb.out;
    EXPECT_NE(usb.out.find("(150 rows)"), std::string::npos) << usb.out;
    EXPECT_EQ(Slurp(Path("usb.csv")), Slurp(Path("pty.csv")));
    // The device got the same requests in the same order; each was journalled before its
    // transfer completed.
    EXPECT_EQ(JournalText(nav.WithModel([](auto& m) { return m.Journal(); })),
              Slurp(JournalPath()));
}

TEST_F(UsbJobs, UnplugMidImportEndsTheJobWithTheErrorAndKeepsWholeRows) {
    constexpr size_t kPoints = 2000;
    testsupport::VirtualUsbOptions options;
    options.device = QuickPatchWithPoints(kPoints);
    testsupport::VirtualUsbNavigator nav(bed, options);
    auto run = std::async(std::launch::async, [this] {
        return Cli({"import-points", "--out", Path("usb.csv")});
    });
    ASSERT_TRUE(nav.WaitForFrames(40, 30000));
    nav.Unplug();
    const CliRun usb = run.get();
    EXPECT_EQ(usb.status, 1) << usb.out << usb.err;
    EXPECT_NE((usb.out + usb.err).find("Error!"), std::string::npos) << usb.out << usb.err;
    // Told apart from a navigator that stops answering: the link failed its reads.
    EXPECT_NE(usb.err.find("the navigator vanished after"), std::string::npos) << usb.err;
    EXPECT_EQ(usb.out.find(kDone), std::string::npos) << "success claimed after a failure";
    EXPECT_LT(usb.ms, 15000) << "the vanished device must end the job, not a time-out chain";
    const std::string csv = Slurp(Path("usb.csv"));
    const size_t rows = CsvRows(csv);
    EXPECT_GE(rows, 30u);
    EXPECT_LT(rows, kPoints);
    EXPECT_EQ(csv.substr(csv.size() - 2), "\r\n") << "only whole rows";
}

TEST_F(UsbJobs, WriteCourseEndsAtOnceWhenTheNavigatorGoesOrAnEndpointStalls) {
    e2e::WriteBytes(Path("jis.bin"), Pattern(200 * 2048, 3));
    using Nav = testsupport::VirtualUsbNavigator;
    const struct {
        const char* name;
        std::function<void(Nav&)> fault;
        std::string says;
    } cases[] = {
        {"unplugged", [](Nav& nav) { nav.Unplug(); }, "the navigator vanished at frame "},
        {"IN endpoint halted", [](Nav& nav) { nav.Halt(true); },
         "the navigator's USB endpoint stalled at frame "},
        {"OUT endpoint halted", [](Nav& nav) { nav.Halt(false); },
         "the navigator's USB endpoint stalled at frame "},
    };
    uint8_t address = 2;  // an unplugged device keeps its place in the test bed
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::VirtualUsbOptions options;
        options.address = address++;
        options.device = QuickPatchWithPoints(0);
        options.device.faults.ackDelayMs = 50;  // mostly inside an acknowledgement wait
        Nav nav(bed, options);
        const CliRun run = CliActing(
            {"write-course", Path("jis.bin")},
            [&] { return nav.WithModel([](auto& m) { return m.FramesReceived(); }) >= 6; },
            [&] { c.fault(nav); });
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_LT(run.ms, 3000) << "the job waited out its 10,000 ms after the link failed";
        if (run.err.find("stalled") == std::string::npos) continue;
        // The halt is cleared: the navigator answers the next program at once.
        EXPECT_FALSE(nav.Halted(true) || nav.Halted(false));
        const CliRun devices = Cli({"devices"});
        EXPECT_NE(devices.out.find(nav.Path() + "  USB (libusb)  patch program"), std::string::npos)
            << devices.out << devices.err;
    }
}

TEST_F(UsbJobs, DevicesListsBothKindsWithWhatEachRuns) {
    StartSim(kQuickPatch);
    testsupport::VirtualUsbNavigator nav(bed, {});  // boot loader
    const CliRun run = Cli({"devices"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, DeviceDir() +
                           "/navigator0  device directory  patch program  (MDL4200 BOOT E3 PATCH "
                           "V1.02)\n"
                           "usb:001-002  USB (libusb)  boot loader  (MDL4200 BOOT V2.10)\n");
    const CliRun json = Cli({"devices", "--json"});
    EXPECT_NE(json.out.find("\"path\":\"usb:001-002\",\"link\":\"libusb\",\"mode\":\"boot\""),
              std::string::npos)
        << json.out;
    StopSim();

    // Found but not ours to open: the line says so and how to get access.
    const std::string node = bed.Root() + nav.DevNode();
    ASSERT_EQ(::chmod(node.c_str(), 0), 0);
    CliRun denied;
    std::thread([&] {
        // Root keeps no right to ignore file modes in what this thread starts.
        ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
        ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
        denied = Cli({"devices"});
    }).join();
    EXPECT_EQ(denied.status, 0) << denied.err;
    EXPECT_NE(denied.out.find("usb:001-002  USB (libusb)  cannot open: usb:001-002: the USB "
                              "navigator is there but this user may not open it"),
              std::string::npos)
        << denied.out;

    // Malformed ids are a usage error or a named failure, never a silent guess.
    EXPECT_EQ(Cli({"devices", "--usb-ids", "c0de"}).status, 2);
    ::setenv("CADDORA_USB_IDS", "c0de;4200", 1);
    const CliRun bad = Cli({"devices"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("CADDORA_USB_IDS: not a vendor:product id: \"c0de;4200\""),
              std::string::npos)
        << bad.err;
}

TEST_F(UsbJobs, UdevRulePrintsARuleForTheIdsThatDecide) {
    const struct {
        std::vector<std::string> args;
        std::vector<platform::UsbId> ids;
    } cases[] = {
        {{"udev-rule"}, {{0xC0DE, 0x4200}}},  // CADDORA_USB_IDS
        {{"udev-rule", "--usb-ids", "1234:5678,abcd:00ef"}, {{0x1234, 0x5678}, {0xABCD, 0x00EF}}},
    };
    for (const auto& c : cases) {
        const CliRun run = Cli(c.args, false);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, transport::UdevRuleText(c.ids));
    }
    ::setenv("CADDORA_USB_IDS", "", 1);
    ::setenv("HOME", Path("home").c_str(), 1);  // no user file
    const CliRun none = Cli({"udev-rule", "--usb-ids", ""}, false);
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("no USB ids configured"), std::string::npos) << none.err;
}

}  // namespace
