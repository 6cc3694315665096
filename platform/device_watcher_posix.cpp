#include "platform/device_watcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/tick.h"

#ifdef CADDORA_HAVE_UDEV
#include <libudev.h>
#endif

namespace {

constexpr uint32_t kDirMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                              IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t kParentMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;

std::string StripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// The folder that holds `path` ("." or "/" where it has none other).
std::string ParentOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return std::string(1, '.');
    if (slash == 0) return std::string(1, '/');
    return std::string(path, 0, slash);
}

std::string BaseOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : std::string(path, slash + 1);
}

}  // namespace

struct DeviceWatcher::Fds {
    int inotify = -1;
    int stop = -1;
    int poke = -1;
    int dirWd = -1;
    int parentWd = -1;
#ifdef CADDORA_HAVE_UDEV
    udev* udevCtx = nullptr;
    udev_monitor* monitor = nullptr;
#endif
    ~Fds() {
#ifdef CADDORA_HAVE_UDEV
        if (monitor) udev_monitor_unref(monitor);
        if (udevCtx) udev_unref(udevCtx);
#endif
        if (inotify >= 0) close(inotify);
        if (stop >= 0) close(stop);
        if (poke >= 0) close(poke);
    }
    int UdevFd() const {
#ifdef CADDORA_HAVE_UDEV
        return monitor ? udev_monitor_get_fd(monitor) : -1;
#else
        return -1;
#endif
    }
};

DeviceWatcher::DeviceWatcher(std::string directory, std::function<void()> onChange)
    : DeviceWatcher(std::move(directory), std::move(onChange), Options{}) {}

DeviceWatcher::DeviceWatcher(std::string directory, std::function<void()> onChange, Options options)
    : directory_(StripTrailingSlashes(std::move(directory))),
      onChange_(std::move(onChange)),
      options_(options),
      parent_(ParentOf(directory_)),
      base_(BaseOf(directory_)) {}

DeviceWatcher::~DeviceWatcher() {
    Stop();
}

bool DeviceWatcher::Start() {
    std::lock_guard<std::mutex> lock(pokeMut_);
    if (thread_.joinable()) return true;
    auto fds = std::make_unique<Fds>();
    fds->inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    fds->stop = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    fds->poke = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fds->inotify < 0 || fds->stop < 0 || fds->poke < 0) return false;
#ifdef CADDORA_HAVE_UDEV
    if (options_.useUdev) {
        // Optional: without a udev daemon (containers) the monitor simply stays quiet.
        fds->udevCtx = udev_new();
        if (fds->udevCtx) fds->monitor = udev_monitor_new_from_netlink(fds->udevCtx, "udev");
        if (fds->monitor && udev_monitor_enable_receiving(fds->monitor) < 0) {
            udev_monitor_unref(fds->monitor);
            fds->monitor = nullptr;
        }
    }
#endif
    udevActive_ = fds->UdevFd() >= 0;
    fds_ = std::move(fds);
    // Watching starts before Start returns, so no change after it is missed.
    EnsureWatches();
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        fds_.reset();
        return false;
    }
    return true;
}

void DeviceWatcher::Stop() {
    std::lock_guard<std::mutex> lock(pokeMut_);
    if (!thread_.joinable()) return;
    uint64_t one = 1;
    ssize_t ignored = write(fds_->stop, &one, sizeof one);
    (void)ignored;
    thread_.join();
    fds_.reset();
}

void DeviceWatcher::Notify() {
    std::lock_guard<std::mutex> lock(pokeMut_);
    if (!thread_.joinable() || !fds_) return;
    uint64_t one = 1;
    ssize_t ignored = write(fds_->poke, &one, sizeof one);
    (void)ignored;
}

bool DeviceWatcher::EnsureWatches() {
    Fds& f = *fds_;
    if (f.parentWd < 0) f.parentWd = inotify_add_watch(f.inotify, parent_.c_str(), kParentMask);
    if (f.dirWd >= 0) return false;
    f.dirWd = inotify_add_watch(f.inotify, directory_.c_str(), kDirMask);
    return f.dirWd >= 0;
}

void DeviceWatcher::Run() {
    Fds& f = *fds_;
    auto ensureWatches = [this] { return EnsureWatches(); };

    bool pending = false;
    uint32_t reportAt = 0;
    auto noteChange = [&] {
        if (!pending) {
            pending = true;
            reportAt = platform::TickCount() + options_.coalesceMs;
        }
    };

    alignas(inotify_event) char buf[4096];
    for (;;) {
        int timeout = -1;
        uint32_t now = platform::TickCount();
        if (pending) {
            timeout = static_cast<int>(platform::TickRemaining(now, reportAt));
        } else if (f.dirWd < 0 || f.parentWd < 0) {
            timeout = static_cast<int>(options_.retryMs);
        }
        pollfd pfd[4] = {{f.stop, POLLIN, 0},
                         {f.inotify, POLLIN, 0},
                         {f.poke, POLLIN, 0},
                         {f.UdevFd(), POLLIN, 0}};
        int n = poll(pfd, pfd[3].fd >= 0 ? 4 : 3, timeout);
        if (n < 0 && errno != EINTR) break;
        if (pfd[0].revents) break;
        if (n > 0 && (pfd[2].revents & POLLIN)) {
            uint64_t count;
            ssize_t ignored = read(f.poke, &count, sizeof count);
            (void)ignored;
            noteChange();
        }

        if (n > 0 && (pfd[1].revents & POLLIN)) {
            ssize_t len;
            while ((len = read(f.inotify, buf, sizeof buf)) > 0) {
                for (ssize_t off = 0; off < len;) {
                    auto* e = reinterpret_cast<inotify_event*>(buf + off);
                    off += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
                    if (e->mask & IN_Q_OVERFLOW) {
                        noteChange();
                    } else if (e->wd == f.dirWd) {
                        noteChange();
                        if (e->mask & IN_IGNORED) {
                            f.dirWd = -1;
                        } else if (e->mask & IN_MOVE_SELF) {
                            // The watch would follow the moved directory; watch the path instead.
                            inotify_rm_watch(f.inotify, f.dirWd);
                            f.dirWd = -1;
                        }
                    } else if (e->wd == f.parentWd) {
                        if (e->mask & IN_IGNORED) {
                            f.parentWd = -1;
                        } else if (e->len > 0 && base_ == e->name) {
                            noteChange();
                        }
                    }
                }
            }
        }
#ifdef CADDORA_HAVE_UDEV
        if (n > 0 && pfd[3].fd >= 0 && (pfd[3].revents & POLLIN)) {
            while (udev_device* d = udev_monitor_receive_device(f.monitor)) {
                udev_device_unref(d);
                noteChange();
            }
        }
#endif
        if (ensureWatches()) noteChange();

        if (pending && platform::TickReached(platform::TickCount(), reportAt)) {
            pending = false;
            ++reports_;
            try {
                if (onChange_) onChange_();
            } catch (...) {
                // A failing handler must not end the watching.
            }
        }
    }
}
