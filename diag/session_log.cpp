#include "diag/session_log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>

#include "diag/frame_text.h"
#include "platform/utf8_paths.h"

namespace diag {

namespace {

constexpr std::size_t kFileBuffer = 1 << 16;

void AppendHex(std::string& out, const uint8_t* bytes, int32_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const std::size_t at = out.size();
    out.resize(at + 2 * static_cast<std::size_t>(count));
    char* p = out.data() + at;
    for (int32_t i = 0; i < count; ++i) {
        *p++ = kDigits[bytes[i] >> 4];
        *p++ = kDigits[bytes[i] & 15];
    }
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
#ifdef _WIN32
    gmtime_s(&tm, &now);
#else
    gmtime_r(&now, &tm);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

std::mutex currentMutex;
std::shared_ptr<SessionLog> current;

}  // namespace

void SetCurrentSessionLog(std::shared_ptr<SessionLog> log) {
    SyncStream::LogEveryStream(log);
    std::lock_guard<std::mutex> lock(currentMutex);
    current = std::move(log);
}

std::shared_ptr<SessionLog> CurrentSessionLog() {
    std::lock_guard<std::mutex> lock(currentMutex);
    return current;
}

const char* OsName() {
#ifdef _WIN32
    return "Windows";
#elif defined(__linux__)
    return "Linux";
#else
    return "POSIX";
#endif
}

std::string EscapeLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

std::string UnescapeLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

SessionLog::SessionLog(const std::string& path, std::FILE* trace,
                       std::function<void(std::string)> warn)
    : path_(path), trace_(trace), warn_(std::move(warn)) {
    if (!path.empty()) {
        file_ = platform::OpenFile(path, "wb");
        if (!file_) {
            const std::string why = std::strerror(errno);
            if (warn_) warn_("cannot write the session log " + path + ": " + why);
        } else {
            std::setvbuf(file_, nullptr, _IOFBF, kFileBuffer);
            Put(kSessionLogMagic);
            writing_ = true;
        }
    }
    if (file_ || trace_) writer_ = std::thread([this] { WriterLoop(); });
}

SessionLog::~SessionLog() {
    StopWriter();
    if (file_) std::fclose(file_);
}

bool SessionLog::Writing() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writing_;
}

int64_t SessionLog::NowUs() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 start_)
        .count();
}

void SessionLog::Queue(const char* kind, int64_t us, bool chunk, const char* data,
                       std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!writer_.joinable() || stopping_) return;
    // Threads read the clock before they take the lock, so two events may reach the queue in
    // the other order than their times: the log's order is the queue's, and its times never go
    // backwards (the replay relies on both).
    if (us >= 0) {
        us = std::max(us, lastUs_);
        lastUs_ = us;
    }
    queue_.push_back({kind, us, chunk, queueData_.size(), size});
    queueData_.append(data, size);
}

void SessionLog::WriterLoop() {
    // Wakes a few times a second rather than at every event: the hot path never signals.
    constexpr auto kPeriod = std::chrono::milliseconds(20);
    std::vector<Pending> batch;
    std::string data;
    for (;;) {
        bool last;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, kPeriod, [this] { return stopping_; });
            batch.swap(queue_);
            data.swap(queueData_);
            last = stopping_;
        }
        for (const Pending& p : batch) Write(p, data);
        batch.clear();
        data.clear();
        if (trace_) std::fflush(trace_);
        if (last) return;
    }
}

void SessionLog::StopWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!writer_.joinable()) return;
        stopping_ = true;
    }
    wake_.notify_all();
    writer_.join();
}

void SessionLog::Failed(const std::string& why) {
    std::fclose(file_);
    file_ = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        writing_ = false;
    }
    if (warn_) {
        warn_("the session log " + path_ + " could not be written (" + why + "); it is incomplete");
    }
}

void SessionLog::Put(const std::string& line) {
    if (!file_) return;
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() ||
        std::fputc('\n', file_) == EOF) {
        Failed(std::strerror(errno));
    }
}

void SessionLog::Header(const SessionHeader& header) {
    auto line = [this](const char* kind, const std::string& text) {
        Queue(kind, -1, false, text.data(), text.size());
    };
    line("program", header.program);
    line("os", header.os);
    for (const std::string& arg : header.args) line("arg", arg);
    line("time", UtcNow());
}

void SessionLog::Event(const char* kind, const std::string& text) {
    Queue(kind, NowUs(), false, text.data(), text.size());
}

void SessionLog::Chunk(const char* kind, const uint8_t* bytes, int32_t count) {
    if (count <= 0) return;
    Queue(kind, NowUs(), true, reinterpret_cast<const char*>(bytes),
          static_cast<std::size_t>(count));
}

void SessionLog::Write(const Pending& p, const std::string& data) {
    const std::string_view text(data.data() + p.offset, p.size);
    // Header lines carry no time.
    line_.assign(p.kind);
    if (p.us >= 0) {
        line_ += ' ';
        line_ += std::to_string(p.us);
    }
    std::string frames;
    if (p.chunk) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
        frames =
            DescribeChunk(std::span<const uint8_t>(bytes, text.size()),
                          std::strcmp(p.kind, "sent") == 0 ? ChunkSide::Sent : ChunkSide::Received);
        line_ += ' ';
        AppendHex(line_, bytes, static_cast<int32_t>(text.size()));
        line_ += ' ';
        line_ += frames;
    } else if (!text.empty()) {
        line_ += ' ';
        line_ += EscapeLine(std::string(text));
    }
    Put(line_);
    if (trace_ && p.us >= 0) {
        const char* what = p.kind;
        if (p.chunk) what = std::strcmp(p.kind, "sent") == 0 ? ">" : "<";
        const std::string shown = p.chunk ? frames : std::string(text);
        std::fprintf(trace_, "%10.6f %s%s%s\n", static_cast<double>(p.us) / 1e6, what,
                     shown.empty() ? "" : " ", shown.c_str());
    }
}

void SessionLog::Phase(const std::string& text) {
    Event("phase", text);
}

void SessionLog::Message(const std::string& text) {
    Event("message", text);
}

void SessionLog::ChosenFile(const std::string& path) {
    Event("file", path);
}

void SessionLog::Result(const std::string& text) {
    Event("result", text);
}

void SessionLog::Exit(int status) {
    Event("exit", std::to_string(status));
    StopWriter();
    if (!file_) return;
    const bool flushed = std::fflush(file_) == 0;
    const std::string why = flushed ? std::string() : std::strerror(errno);
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if ((!flushed || !closed) && warn_) {
        warn_("the session log " + path_ + " could not be written (" + why + ")");
    }
}

void SessionLog::Opened(const std::string& kind, const std::string& path) {
    Event("open", kind + ": " + path);
}

void SessionLog::Received(const uint8_t* bytes, int32_t count) {
    Chunk("recv", bytes, count);
}

void SessionLog::Sent(const uint8_t* bytes, int32_t count) {
    Chunk("sent", bytes, count);
}

void SessionLog::ReadFailed() {
    Event("gone", "");
}

void SessionLog::Closed() {
    Event("close", "");
}

}  // namespace diag
