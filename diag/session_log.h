#pragma once
// The session log of a device job: one event per line in plain text, for an owner to send when
// a navigator misbehaves and for `caddora-cli replay` to play back.
//
//     caddora session log 1
//     program caddora-cli 0.9.0
//     os Linux
//     arg caddora-cli
//     arg import-points
//     time 2026-12-08T03:15:02Z
//     open 1042 device directory: /dev/caddora/nav0
//     sent 1100 f1d90a04000000... VERSION_POLL len 0
//     recv 3300 f1d90a0420000000... VERSION_DATA len 32
//     file 4000 /home/owner/jis.bin
//     phase 5000 records 0 of 4096
//     gone 6000
//     close 7000
//     result 9000 failed Gone rows 12: the navigator vanished
//     exit 9001 1
//
// Times are microseconds of a monotonic clock since the log began; chunks are lowercase hex as
// they passed the link, followed by the frames they hold. The same events, decoded and without
// the hex, can go to a terminal as they pass (the trace). Events are only queued on the threads
// that move the bytes; a writer thread of the log formats and writes them, so a job's exchange
// with the device waits for no hex, no frame decoding and no file.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "transport/sync_stream.h"

namespace diag {

inline constexpr const char* kSessionLogMagic = "caddora session log 1";

struct SessionHeader {
    std::string program;  // "caddora-cli 0.9.0"
    std::string os;
    std::vector<std::string> args;  // the command line, one argument each
};

class SessionLog : public StreamLog {
public:
    // Logs to `path` (empty: no file) and traces to `trace` (nullptr: none). A file that cannot
    // be opened or written is reported once through `warn`, and the job goes on without it.
    SessionLog(const std::string& path, std::FILE* trace, std::function<void(std::string)> warn);
    ~SessionLog() override;
    SessionLog(const SessionLog&) = delete;
    SessionLog& operator=(const SessionLog&) = delete;

    // Whether the file is being written.
    bool Writing() const;

    void Header(const SessionHeader& header);
    // A step of the job as the job reports it ("records 12 of 4096").
    void Phase(const std::string& text);
    void Message(const std::string& text);
    // The file the job was given through its file dialog.
    void ChosenFile(const std::string& path);
    void Result(const std::string& text);
    // The last line; flushes and closes the file.
    void Exit(int status);

    // --- StreamLog ---------------------------------------------------------------------------
    void Opened(const std::string& kind, const std::string& path) override;
    void Received(const uint8_t* bytes, int32_t count) override;
    void Sent(const uint8_t* bytes, int32_t count) override;
    void ReadFailed() override;
    void Closed() override;

private:
    // A queued event; its bytes or text are data[offset, offset + size) of the queue's data,
    // so queueing allocates nothing once the queue has grown.
    struct Pending {
        const char* kind;
        int64_t us;  // -1: a header line
        bool chunk;
        std::size_t offset;
        std::size_t size;
    };

    int64_t NowUs() const;
    int64_t lastUs_ = 0;  // the latest time queued (mutex_)
    void Event(const char* kind, const std::string& text);
    void Chunk(const char* kind, const uint8_t* bytes, int32_t count);
    void Queue(const char* kind, int64_t us, bool chunk, const char* data, std::size_t size);
    void WriterLoop();
    void StopWriter();
    // The writer thread, or the caller once it has ended:
    void Write(const Pending& pending, const std::string& data);
    void Put(const std::string& line);
    void Failed(const std::string& why);

    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::FILE* file_ = nullptr;
    std::string path_;
    std::FILE* trace_;
    std::function<void(std::string)> warn_;
    std::string line_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Pending> queue_;
    std::string queueData_;
    bool stopping_ = false;
    bool writing_ = false;
    std::thread writer_;
};

// The log of the run in progress: every device stream of the process logs to it, and the
// job's view reports to it (app/session_view.h). nullptr: none.
void SetCurrentSessionLog(std::shared_ptr<SessionLog> log);
std::shared_ptr<SessionLog> CurrentSessionLog();

// "Linux", "Windows", for a log's header.
const char* OsName();

// A text on one line of a log: backslash, CR and LF escaped.
std::string EscapeLine(const std::string& text);
std::string UnescapeLine(const std::string& text);

}  // namespace diag
