#pragma once
// Playing a session log back: the recording read from its file, and a link that answers as the
// recorded navigator did. Each received chunk is delivered after the sent chunk that preceded
// it in the log has been sent again, as long after it as it came then; the bytes sent are
// compared with the recording, and the first difference stops the device at once.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <istream>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "transport/stand_in_link.h"

namespace diag {

// A log that cannot be played: the message names the line.
class RecordingError : public std::runtime_error {
public:
    RecordingError(int line, const std::string& what)
        : std::runtime_error("line " + std::to_string(line) + ": " + what), line_(line) {}
    int Line() const { return line_; }

private:
    int line_;
};

struct RecordedChunk {
    enum class Kind { Sent, Received, Gone };
    Kind kind = Kind::Sent;
    int64_t us = 0;
    int line = 0;
    std::vector<uint8_t> bytes;
    std::string frames;  // as the log described them
};

struct Recording {
    std::string program;
    std::vector<std::string> args;
    std::string devicePath;  // of the first connection
    std::string chosenFile;  // given through the job's file dialog
    std::vector<RecordedChunk> chunks;
    std::vector<std::string> results;
    int exitStatus = 0;
};

// Reads a session log; RecordingError for anything that is not a whole log of this tool.
Recording ParseRecording(std::istream& in);
Recording ReadRecording(const std::string& path);

class ReplayLink : public transport::StandInLink, public std::enable_shared_from_this<ReplayLink> {
public:
    explicit ReplayLink(const Recording& recording);

    std::string Path() const override { return path_; }
    bool Present() const override;
    std::shared_ptr<transport::StandInConnection> Connect() override;

    // The first difference between what the job sent and the recording, in words; nothing
    // while there is none.
    std::optional<std::string> Difference() const;
    // After the job: a recorded sent chunk the job never sent counts as a difference too.
    std::optional<std::string> FinalDifference() const;

private:
    class Connection;
    using Clock = std::chrono::steady_clock;
    struct Delivery {
        std::size_t chunk;     // index into chunks_
        std::size_t needSent;  // recorded sent chunks before it
        int64_t afterUs;       // after the last of them (or the start)
    };

    int32_t Read(const bool& closed, uint8_t* buffer, int32_t length);
    void Write(const uint8_t* bytes, int32_t count);
    void Diverge(const std::string& text);  // caller holds mutex_

    std::string path_;
    std::vector<RecordedChunk> chunks_;
    std::vector<std::size_t> sent_;  // indices of the sent chunks
    std::vector<Delivery> deliveries_;
    const Clock::time_point start_ = Clock::now();

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t sentDone_ = 0;    // sent chunks sent again in full
    std::size_t sentOffset_ = 0;  // bytes of the next one
    std::vector<Clock::time_point> sentAt_;
    std::size_t delivered_ = 0;
    std::size_t deliveredOffset_ = 0;
    bool gone_ = false;
    std::optional<std::string> difference_;
};

}  // namespace diag
