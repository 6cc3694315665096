#pragma once
// The device side of a Win32 link in tests: a named pipe that the link opens as its device
// path. The peer reads and writes with bounded waits, and can vanish like an unplugged device.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class PipePeer {
public:
    // `bufferSize` is the pipe's queue each way; a small one lets a writer stall.
    explicit PipePeer(DWORD bufferSize = 4096) {
        static std::atomic<int> serial{0};
        path_ = "\\\\.\\pipe\\caddora-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(serial++);
        const std::wstring wide(path_.begin(), path_.end());
        pipe_ = CreateNamedPipeW(wide.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, bufferSize,
                                 bufferSize, 0, nullptr);
        event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~PipePeer() {
        Vanish();
        CloseHandle(event_);
    }
    PipePeer(const PipePeer&) = delete;
    PipePeer& operator=(const PipePeer&) = delete;

    bool Valid() const { return pipe_ != INVALID_HANDLE_VALUE && event_ != nullptr; }
    const std::string& Path() const { return path_; }

    // Accepts the client that opened Path().
    bool Accept() {
        OVERLAPPED ov{};
        ov.hEvent = event_;
        if (ConnectNamedPipe(pipe_, &ov)) return true;
        const DWORD e = GetLastError();
        if (e == ERROR_PIPE_CONNECTED) return true;
        return e == ERROR_IO_PENDING && Finish(ov, 2000);
    }

    // Reads until `count` bytes came or `timeoutMs` passed; returns what came.
    std::vector<uint8_t> Read(size_t count, DWORD timeoutMs) {
        std::vector<uint8_t> got;
        const DWORD start = GetTickCount();
        while (got.size() < count) {
            const DWORD spent = GetTickCount() - start;
            if (spent >= timeoutMs) break;
            uint8_t buf[256];
            OVERLAPPED ov{};
            ov.hEvent = event_;
            const DWORD want = static_cast<DWORD>(std::min<size_t>(sizeof buf, count - got.size()));
            DWORD n = 0;
            if (!ReadFile(pipe_, buf, want, &n, &ov)) {
                if (GetLastError() != ERROR_IO_PENDING || !Finish(ov, timeoutMs - spent, &n)) {
                    break;
                }
            } else {
                GetOverlappedResult(pipe_, &ov, &n, FALSE);
            }
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

    bool Write(const std::vector<uint8_t>& bytes) {
        OVERLAPPED ov{};
        ov.hEvent = event_;
        DWORD n = 0;
        if (WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), &n, &ov)) return true;
        return GetLastError() == ERROR_IO_PENDING && Finish(ov, 2000, &n);
    }

    // The device goes away: its end of the pipe closes.
    void Vanish() {
        if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
        pipe_ = INVALID_HANDLE_VALUE;
    }

private:
    // Waits for an overlapped operation; cancels it (and waits for that) after `timeoutMs`.
    bool Finish(OVERLAPPED& ov, DWORD timeoutMs, DWORD* count = nullptr) {
        DWORD n = 0;
        if (WaitForSingleObject(ov.hEvent, timeoutMs) != WAIT_OBJECT_0) CancelIoEx(pipe_, &ov);
        const BOOL ok = GetOverlappedResult(pipe_, &ov, &n, TRUE);
        if (count) *count = n;
        return ok;
    }

    std::string path_;
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = nullptr;
};

}  // namespace testsupport
