#pragma once
// Keeps a second copy of the program from running. The first copy holds an exclusive flock on
// a per-user lock file; the kernel drops the lock when the process ends, however it ends, so a
// crashed copy never blocks the next start (unlike counting processes by name, which also
// miscounts other programs that happen to share the name).
#include <string>

class SingleInstanceLock {
public:
    // `lockPath` empty: DefaultLockPath().
    explicit SingleInstanceLock(std::string lockPath = {});
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // True when this process may run: it now holds the lock (or already did). False when
    // another process holds it. When the lock file cannot be used at all (for example it
    // belongs to another user), falls back to counting the processes of this program's name.
    bool TryAcquire();
#ifdef _WIN32
    bool Held() const { return mutex_ != nullptr; }
#else
    bool Held() const { return fd_ >= 0; }
#endif
    const std::string& Path() const { return path_; }

    // "$XDG_RUNTIME_DIR/caddora.lock" when that directory is set, else
    // "/tmp/caddora-<uid>.lock". On Windows the lock is a named mutex of the user's session and
    // this is its name.
    static std::string DefaultLockPath();

private:
    std::string path_;
#ifdef _WIN32
    void* mutex_ = nullptr;
#else
    int fd_ = -1;
#endif
};
