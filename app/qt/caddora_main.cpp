// caddora: the maintenance tool's window. Command-line arguments are ignored.
#include <QApplication>

#include "platform/device_watcher.h"
#include "app/qt/main_window.h"
#include "platform/single_instance.h"
#include "platform/settings.h"

int main(int argc, char** argv) {
    // A second copy ends at once, before it shows anything.
    SingleInstanceLock instance;
    if (!instance.TryAcquire()) return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("caddora"));
    const platform::Settings settings = platform::ResolveSettings();
    MainWindow window(settings);
    window.show();

    // Every change in the device directory or from udev asks the window for a device check.
    DeviceWatcher watcher(settings.deviceDir, [&window] { window.ScheduleDeviceCheck(); });
    watcher.Start();

    QApplication::exec();
    return 0;
}
