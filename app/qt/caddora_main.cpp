// caddora: the maintenance tool's window. Besides --help and --version, command-line arguments
// are ignored (Qt takes its own, such as -platform). Exit status 0, or 128 + the signal's number
// when SIGTERM, SIGINT or SIGHUP ended it.
#include <QApplication>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "app/point_logbook.h"
#include "app/qt/main_window.h"
#include "app/qt/signal_end.h"
#include "caddora_version.h"
#include "platform/program_folder.h"
#include "platform/settings.h"
#include "platform/single_instance.h"
#include "transfer/device_image_setup.h"
#include "transport/device_changes.h"

namespace {

constexpr std::string_view kHelp =
    "Usage: caddora [OPTION]\n"
    "Maintenance tool for the CADDORA navigator: imports the saved points into a CSV file,\n"
    "writes course data and firmware, shows version information. Only one window runs at a\n"
    "time; starting another copy ends it at once.\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "\n"
    "Navigators are looked for in $CADDORA_DEVICE_DIR, else in /dev/caddora.\n";

// Answers --help and --version without a display, before anything else starts.
std::optional<int> AnswerInfoOption(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fwrite(kHelp.data(), 1, kHelp.size(), stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("caddora %s\n", kCaddoraVersion);
            return 0;
        }
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto status = AnswerInfoOption(argc, argv)) return *status;

    // A second copy ends at once, before it shows anything.
    SingleInstanceLock instance;
    if (!instance.TryAcquire()) return 0;

    QApplication app(argc, argv);
    // Qt takes the user's locale for the whole C library; a comma-decimal locale would then
    // write the CSV's coordinates as "139,000000" and break their columns.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("caddora"));
    platform::Settings settings = platform::ResolveSettings();
    // USB navigators reached through libusb: ids from CADDORA_USB_IDS or the configuration
    // files; a malformed source is reported and ignored.
    const platform::ResolvedUsbIds usbIds = platform::ResolveUsbIdsSetting(std::nullopt);
    if (!usbIds.error.empty()) std::fprintf(stderr, "caddora: %s\n", usbIds.error.c_str());
    settings.usbIds = usbIds.ids;
    MainWindow window(settings);
    // CADDORA_UI_BUSY_LOG=1: say on stderr each time the UI thread was busier in one go than
    // ever before (a posted call, a click, a device check).
    if (const char* log = std::getenv("CADDORA_UI_BUSY_LOG"); log && *log && *log != '0') {
        window.SetUiBusyLog(true);
    }
    // Device images are looked for once; a job that needs a missing one says so when clicked.
    const DeviceImageSetup images = DeviceImageSetup::From(
        std::getenv("CADDORA_PATCH_IMAGE"), std::getenv("CADDORA_BOOT_PROGRAM"),
        std::getenv("CADDORA_ALLOW_STAND_IN"), std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"),
        platform::ProgramFolder());
    window.Logic().SetPatchImage(images.PatchImage(""));
    // Imports add their points to the logbook that caddora-cli uses too.
    if (LogbookAvailable()) {
        window.Logic().pointLogbook = ChooseLogbook("", std::getenv("CADDORA_LOGBOOK"));
    }
    window.show();

    // Every change in the device directory, from udev or from libusb's hotplug callbacks asks
    // the window for a device check.
    transport::DeviceChanges changes(settings.deviceDir, settings.usbIds,
                                     [&window] { window.ScheduleDeviceCheck(); });
    changes.Start();

    // Logout and shutdown end the window through its job's clean-up; the status then says
    // which signal it was (128 + its number), as caddora-cli's does.
    const SignalEnd signalEnd(window);
    return QApplication::exec();
}
