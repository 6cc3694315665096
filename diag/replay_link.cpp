#include "diag/replay_link.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <fstream>
#include <span>

#include "diag/frame_text.h"
#include "diag/session_log.h"
#include "platform/utf8_paths.h"

namespace diag {

namespace {

// Longest line a log of this tool holds: a 64 KiB chunk in hex and its description.
constexpr std::size_t kMaxLine = 300000;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "word rest": the word and what follows the first space.
std::pair<std::string, std::string> SplitWord(const std::string& text) {
    const std::size_t space = text.find(' ');
    if (space == std::string::npos) return {text, {}};
    return {text.substr(0, space), text.substr(space + 1)};
}

int64_t ParseTime(int line, const std::string& text) {
    int64_t us = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), us);
    if (ec != std::errc() || end != text.data() + text.size() || us < 0) {
        throw RecordingError(line, "'" + text.substr(0, 40) + "' is not a time in microseconds");
    }
    return us;
}

std::vector<uint8_t> ParseHex(int line, const std::string& text) {
    if (text.empty() || text.size() % 2 != 0) {
        throw RecordingError(line, "the chunk's bytes are not whole hexadecimal pairs");
    }
    std::vector<uint8_t> bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int hi = HexDigit(text[2 * i]);
        const int lo = HexDigit(text[2 * i + 1]);
        if (hi < 0 || lo < 0) throw RecordingError(line, "the chunk's bytes are not hexadecimal");
        bytes[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return bytes;
}

std::string Describe(std::span<const uint8_t> bytes) {
    return DescribeChunk(bytes, ChunkSide::Sent);
}

}  // namespace

Recording ParseRecording(std::istream& in) {
    Recording rec;
    std::string text;
    int line = 0;
    int64_t lastUs = 0;
    bool events = false;
    bool ended = false;
    auto next = [&]() -> bool {
        text.clear();
        char c;
        while (in.get(c)) {
            if (c == '\n') return true;
            if (text.size() >= kMaxLine) throw RecordingError(line + 1, "the line is too long");
            text += c;
        }
        return !text.empty();
    };
    if (!next() || (++line, text != kSessionLogMagic)) {
        throw RecordingError(1, "this is not a caddora session log (it must begin with '" +
                                    std::string(kSessionLogMagic) + "')");
    }
    while (next()) {
        ++line;
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (ended) throw RecordingError(line, "there is more after the recorded exit status");
        auto [word, rest] = SplitWord(text);
        if (word == "program" || word == "os" || word == "arg" || word == "time") {
            if (events) throw RecordingError(line, "'" + word + "' belongs to the header");
            if (word == "program") rec.program = UnescapeLine(rest);
            if (word == "arg") rec.args.push_back(UnescapeLine(rest));
            continue;
        }
        static const char* const kEvents[] = {"open",  "close",   "sent",   "recv", "gone",
                                              "phase", "message", "result", "exit", "file"};
        if (std::find_if(std::begin(kEvents), std::end(kEvents), [&word = word](const char* e) {
                return word == e;
            }) == std::end(kEvents)) {
            throw RecordingError(line, "unknown event '" + word.substr(0, 40) + "'");
        }
        if (!events && rec.args.size() < 2) {
            throw RecordingError(line, "the header names no command");
        }
        events = true;
        auto [timeText, detail] = SplitWord(rest);
        const int64_t us = ParseTime(line, timeText);
        if (us < lastUs) throw RecordingError(line, "the time goes backwards");
        lastUs = us;
        if (word == "open") {
            const std::size_t colon = detail.find(": ");
            if (colon == std::string::npos) throw RecordingError(line, "the link has no path");
            if (rec.devicePath.empty()) rec.devicePath = UnescapeLine(detail.substr(colon + 2));
        } else if (word == "sent" || word == "recv") {
            if (rec.devicePath.empty()) {
                throw RecordingError(line, "bytes passed before any link was opened");
            }
            auto [hex, frames] = SplitWord(detail);
            RecordedChunk chunk;
            chunk.kind = word == "sent" ? RecordedChunk::Kind::Sent : RecordedChunk::Kind::Received;
            chunk.us = us;
            chunk.line = line;
            chunk.bytes = ParseHex(line, hex);
            chunk.frames = frames;
            rec.chunks.push_back(std::move(chunk));
        } else if (word == "gone") {
            RecordedChunk chunk;
            chunk.kind = RecordedChunk::Kind::Gone;
            chunk.us = us;
            chunk.line = line;
            rec.chunks.push_back(std::move(chunk));
        } else if (word == "file") {
            if (rec.chosenFile.empty()) rec.chosenFile = UnescapeLine(detail);
        } else if (word == "result") {
            rec.results.push_back(UnescapeLine(detail));
        } else if (word == "exit") {
            int status = -1;
            const auto [end, ec] =
                std::from_chars(detail.data(), detail.data() + detail.size(), status);
            if (ec != std::errc() || end != detail.data() + detail.size() || status < 0) {
                throw RecordingError(line, "'" + detail.substr(0, 40) + "' is not an exit status");
            }
            rec.exitStatus = status;
            ended = true;
        }
    }
    if (!ended) {
        throw RecordingError(line + 1,
                             "the log ends before the job's exit status: it is incomplete");
    }
    return rec;
}

Recording ReadRecording(const std::string& path) {
    std::ifstream in(platform::PathFromUtf8(path), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    return ParseRecording(in);
}

// --- The link --------------------------------------------------------------------------------

class ReplayLink::Connection : public transport::StandInConnection {
public:
    explicit Connection(std::shared_ptr<ReplayLink> link) : link_(std::move(link)) {}
    int32_t Read(uint8_t* buffer, int32_t length) override {
        return link_->Read(closed_, buffer, length);
    }
    void Write(const uint8_t* bytes, int32_t count) override { link_->Write(bytes, count); }
    void Close() override {
        {
            std::lock_guard<std::mutex> lock(link_->mutex_);
            closed_ = true;
        }
        link_->changed_.notify_all();
    }

private:
    std::shared_ptr<ReplayLink> link_;
    bool closed_ = false;  // guarded by the link's mutex
};

ReplayLink::ReplayLink(const Recording& recording)
    : path_(recording.devicePath), chunks_(recording.chunks) {
    int64_t anchor = 0;
    for (std::size_t i = 0; i < chunks_.size(); ++i) {
        if (chunks_[i].kind == RecordedChunk::Kind::Sent) {
            sent_.push_back(i);
            anchor = chunks_[i].us;
        } else {
            deliveries_.push_back({i, sent_.size(), chunks_[i].us - anchor});
        }
    }
    sentAt_.resize(sent_.size());
}

bool ReplayLink::Present() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !gone_;
}

std::shared_ptr<transport::StandInConnection> ReplayLink::Connect() {
    if (!Present()) return nullptr;
    return std::make_shared<Connection>(shared_from_this());
}

int32_t ReplayLink::Read(const bool& closed, uint8_t* buffer, int32_t length) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (gone_) return -1;
        if (closed) return 0;
        if (delivered_ < deliveries_.size() && length > 0) {
            const Delivery& d = deliveries_[delivered_];
            if (sentDone_ >= d.needSent) {
                const Clock::time_point base = d.needSent == 0 ? start_ : sentAt_[d.needSent - 1];
                const Clock::time_point due = base + std::chrono::microseconds(d.afterUs);
                if (Clock::now() < due) {
                    changed_.wait_until(lock, due);
                    continue;
                }
                const RecordedChunk& chunk = chunks_[d.chunk];
                if (chunk.kind == RecordedChunk::Kind::Gone) {
                    gone_ = true;
                    ++delivered_;
                    changed_.notify_all();
                    return -1;
                }
                const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(length),
                                                            chunk.bytes.size() - deliveredOffset_);
                std::memcpy(buffer, chunk.bytes.data() + deliveredOffset_, n);
                deliveredOffset_ += n;
                if (deliveredOffset_ == chunk.bytes.size()) {
                    deliveredOffset_ = 0;
                    ++delivered_;
                }
                return static_cast<int32_t>(n);
            }
        }
        // Nothing is due until the job sends, or its connection is closed.
        changed_.wait(lock);
    }
}

void ReplayLink::Diverge(const std::string& text) {
    if (!difference_) difference_ = text;
    // The navigator "vanishes": every wait of the job ends at once.
    gone_ = true;
    changed_.notify_all();
}

void ReplayLink::Write(const uint8_t* bytes, int32_t count) {
    const std::span<const uint8_t> now(bytes, static_cast<std::size_t>(std::max(count, 0)));
    std::lock_guard<std::mutex> lock(mutex_);
    if (difference_) return;
    for (std::size_t i = 0; i < now.size(); ++i) {
        if (sentDone_ == sent_.size()) {
            return Diverge("the job sends more than the recording holds: now " + Describe(now));
        }
        const RecordedChunk& expected = chunks_[sent_[sentDone_]];
        if (expected.bytes[sentOffset_] != now[i]) {
            return Diverge("sent frame " + std::to_string(sentDone_ + 1) + " (line " +
                           std::to_string(expected.line) + ", byte " + std::to_string(sentOffset_) +
                           ") differs: recorded " + Describe(expected.bytes) + ", now " +
                           Describe(now));
        }
        if (++sentOffset_ == expected.bytes.size()) {
            sentAt_[sentDone_] = Clock::now();
            ++sentDone_;
            sentOffset_ = 0;
        }
    }
    changed_.notify_all();
}

std::optional<std::string> ReplayLink::Difference() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return difference_;
}

std::optional<std::string> ReplayLink::FinalDifference() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (difference_) return difference_;
    if (sentDone_ < sent_.size()) {
        const RecordedChunk& missing = chunks_[sent_[sentDone_]];
        return "sent frame " + std::to_string(sentDone_ + 1) + " (line " +
               std::to_string(missing.line) + ") was never sent: recorded " +
               Describe(missing.bytes);
    }
    return std::nullopt;
}

}  // namespace diag
