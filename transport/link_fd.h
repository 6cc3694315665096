#pragma once
// An open device file shared by the threads of one link. A read may block in poll() on one
// thread while another thread writes or closes. Close() wakes every blocked caller through an
// eventfd and the descriptor is released only after the last caller has left, so a descriptor
// number is never used after it was closed (and possibly reused by an unrelated open).
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace transport {

class LinkFd {
public:
    LinkFd();
    ~LinkFd();
    LinkFd(const LinkFd&) = delete;
    LinkFd& operator=(const LinkFd&) = delete;

    // Opens `path` read/write and non-blocking without becoming its controlling terminal, and
    // makes the open exclusive with an flock held for this open (which also stops root and
    // other processes, and ends with the process). False when absent, not openable or already
    // open.
    bool OpenExclusive(const std::string& path);

    // Wakes blocked callers and releases the descriptor once none is inside; waits a bounded
    // time for them to leave (they leave at once when woken). Idempotent.
    void Close();

    bool IsOpen() const;
    bool IsTerminal() const { return terminal_; }

    // Marks one operation on the descriptor. While a Use is alive and true, fd() stays valid.
    class Use {
    public:
        explicit Use(LinkFd& link) : link_(link), ok_(link.Enter()) {}
        ~Use() {
            if (ok_) link_.Leave();
        }
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;
        explicit operator bool() const { return ok_; }
        int fd() const { return link_.fd_; }

    private:
        LinkFd& link_;
        bool ok_;
    };

    enum class Ready {
        Ready,    // the requested event is there
        HangUp,   // the other side is gone (POLLHUP, POLLERR)
        Invalid,  // the descriptor is not valid (POLLNVAL) or poll failed
        Closed,   // Close() was called
        Stopped,  // `stopFd` became readable
        Timeout,
    };
    // Waits, inside a Use, until `events` (POLLIN or POLLOUT) are ready, the link closes,
    // `stopFd` (if >= 0) becomes readable, or `timeoutMs` pass (negative: no limit).
    Ready Wait(short events, int timeoutMs, int stopFd);

    // Non-blocking check for a hang-up of the other side, inside a Use.
    bool HungUp();

private:
    bool Enter();
    void Leave();
    // Caller holds mut_.
    void ReleaseDescriptor();

    mutable std::mutex mut_;
    std::condition_variable leftCv_;
    int fd_ = -1;
    int wakeFd_ = -1;
    int users_ = 0;
    bool closed_ = true;
    bool terminal_ = false;
};

// Puts an open terminal into raw 8-bit mode at once, without flushing pending input.
bool MakeRawTerminal(int fd);

}  // namespace transport
