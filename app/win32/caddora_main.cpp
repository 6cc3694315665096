// caddora.exe: the maintenance tool's window. Command-line arguments are ignored.
#include <windows.h>

#include "app/point_logbook.h"
#include "app/win32/main_window.h"
#include "platform/device_watcher.h"
#include "platform/program_folder.h"
#include "platform/settings.h"
#include "platform/single_instance.h"
#include "platform/utf8_paths.h"
#include "transfer/device_image_setup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    // A second copy ends at once, before it shows anything.
    SingleInstanceLock instance;
    if (!instance.TryAcquire()) return 0;

    const platform::Settings settings = platform::ResolveSettings();
    Win32MainWindow window(settings);
    if (!window.Create(showCommand)) return 1;
    // Device images are looked for once; a job that needs a missing one says so when clicked.
    // The user's configuration folder is %APPDATA%\caddora.
    using platform::EnvironmentText;
    const DeviceImageSetup images = DeviceImageSetup::From(
        EnvironmentText("CADDORA_PATCH_IMAGE").c_str(),
        EnvironmentText("CADDORA_BOOT_PROGRAM").c_str(),
        EnvironmentText("CADDORA_ALLOW_STAND_IN").c_str(), EnvironmentText("APPDATA").c_str(),
        EnvironmentText("USERPROFILE").c_str(), platform::ProgramFolder());
    window.Logic().SetPatchImage(images.PatchImage(""));
    // Imports add their points to the logbook that caddora-cli.exe uses too.
    if (LogbookAvailable()) {
        window.Logic().pointLogbook = ChooseLogbook("", EnvironmentText("CADDORA_LOGBOOK").c_str());
    }

    // Changes of the navigator driver's interface class; the broadcasts reach the window too.
    DeviceWatcher watcher(settings.deviceDir, [&window] { window.ScheduleDeviceCheck(); });
    watcher.Start();

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(window.Handle(), &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    watcher.Stop();
    return 0;
}
