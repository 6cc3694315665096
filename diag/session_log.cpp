#include "diag/session_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "diag/frame_text.h"

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

}  // namespace

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
    if (path.empty()) return;
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        const std::string why = std::strerror(errno);
        if (warn_) warn_("cannot write the session log " + path + ": " + why);
        return;
    }
    std::setvbuf(file_, nullptr, _IOFBF, kFileBuffer);
    Put(kSessionLogMagic);
}

SessionLog::~SessionLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_) std::fclose(file_);
}

bool SessionLog::Writing() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return file_ != nullptr;
}

int64_t SessionLog::NowUs() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 start_)
        .count();
}

void SessionLog::Failed(const std::string& why) {
    std::fclose(file_);
    file_ = nullptr;
    if (warn_)
        warn_("the session log " + path_ + " could not be written (" + why + "); it is incomplete");
}

void SessionLog::Put(const std::string& line) {
    if (!file_) return;
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() ||
        std::fputc('\n', file_) == EOF) {
        Failed(std::strerror(errno));
    }
}

void SessionLog::Header(const SessionHeader& header) {
    std::lock_guard<std::mutex> lock(mutex_);
    Put("program " + EscapeLine(header.program));
    Put("os " + EscapeLine(header.os));
    for (const std::string& arg : header.args) Put("arg " + EscapeLine(arg));
    Put("time " + UtcNow());
}

void SessionLog::Event(const char* kind, const std::string& text) {
    const int64_t us = NowUs();
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_) {
        line_.assign(kind);
        line_ += ' ';
        line_ += std::to_string(us);
        if (!text.empty()) {
            line_ += ' ';
            line_ += EscapeLine(text);
        }
        Put(line_);
    }
    if (trace_) {
        std::fprintf(trace_, "%10.6f %s%s%s\n", static_cast<double>(us) / 1e6, kind,
                     text.empty() ? "" : " ", text.c_str());
        std::fflush(trace_);
    }
}

void SessionLog::Chunk(const char* kind, const char* arrow, const uint8_t* bytes, int32_t count) {
    if (count <= 0) return;
    const int64_t us = NowUs();
    const std::string frames =
        DescribeChunk(std::span<const uint8_t>(bytes, static_cast<std::size_t>(count)));
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_) {
        line_.assign(kind);
        line_ += ' ';
        line_ += std::to_string(us);
        line_ += ' ';
        AppendHex(line_, bytes, count);
        line_ += ' ';
        line_ += frames;
        Put(line_);
    }
    if (trace_) {
        std::fprintf(trace_, "%10.6f %s %s\n", static_cast<double>(us) / 1e6, arrow,
                     frames.c_str());
        std::fflush(trace_);
    }
}

void SessionLog::Phase(const std::string& text) {
    Event("phase", text);
}

void SessionLog::Message(const std::string& text) {
    Event("message", text);
}

void SessionLog::Result(const std::string& text) {
    Event("result", text);
}

void SessionLog::Exit(int status) {
    Event("exit", std::to_string(status));
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_) return;
    const bool ok = std::fflush(file_) == 0;
    const std::string why = ok ? std::string() : std::strerror(errno);
    if (std::fclose(file_) != 0 || !ok) {
        file_ = nullptr;
        if (warn_) warn_("the session log " + path_ + " could not be written (" + why + ")");
        return;
    }
    file_ = nullptr;
}

void SessionLog::Opened(const std::string& kind, const std::string& path) {
    Event("open", kind + ": " + path);
}

void SessionLog::Received(const uint8_t* bytes, int32_t count) {
    Chunk("recv", "<", bytes, count);
}

void SessionLog::Sent(const uint8_t* bytes, int32_t count) {
    Chunk("sent", ">", bytes, count);
}

void SessionLog::ReadFailed() {
    Event("gone", "");
}

void SessionLog::Closed() {
    Event("close", "");
}

}  // namespace diag
