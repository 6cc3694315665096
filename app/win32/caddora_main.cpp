// caddora.exe: the maintenance tool's window. Command-line arguments are ignored.
#include <windows.h>

#include "platform/device_watcher.h"
#include "platform/single_instance.h"
#include "app/win32/main_window.h"
#include "platform/settings.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
    // A second copy ends at once, before it shows anything.
    SingleInstanceLock instance;
    if (!instance.TryAcquire()) return 0;

    const platform::Settings settings = platform::ResolveSettings();
    Win32MainWindow window(settings);
    if (!window.Create(showCommand)) return 1;

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
