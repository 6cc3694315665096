#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/shell.h"

SingleInstanceLock::SingleInstanceLock(std::string lockPath)
    : path_(lockPath.empty() ? DefaultLockPath() : std::move(lockPath)) {}

SingleInstanceLock::~SingleInstanceLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the flock
}

std::string SingleInstanceLock::DefaultLockPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return std::string(runtime) + "/caddora.lock";
    return "/tmp/caddora-" + std::to_string(getuid()) + ".lock";
}

bool SingleInstanceLock::TryAcquire() {
    if (fd_ >= 0) return true;
    // O_NOFOLLOW: in a shared /tmp another user could plant a link to a file of ours.
    int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    struct stat st {};
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid())) {
        close(fd);
        fd = -1;
    }
    if (fd < 0) {
        // No usable lock file: the process list is the next best test.
        return platform::CountProcessesNamed(platform::CurrentProcessName()) < 2;
    }
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}
