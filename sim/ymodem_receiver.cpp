#include "sim/ymodem_receiver.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/tick.h"

namespace sim {

namespace {

constexpr uint8_t kSoh = 0x01;
constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEot = 0x04;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr uint8_t kCan = 0x18;
constexpr uint8_t kC = 0x43;

// CRC-16/XMODEM, kept here so the device side does not borrow the sender's code.
uint16_t Crc16(const uint8_t* p, size_t n) {
    uint16_t crc = 0;
    while (n-- > 0) {
        crc = static_cast<uint16_t>(crc ^ (*p++ << 8));
        for (int i = 0; i < 8; ++i) {
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        }
    }
    return crc;
}

uint32_t Since(uint32_t now, uint32_t then) {
    const int32_t d = platform::TickDiff(now, then);
    return d > 0 ? static_cast<uint32_t>(d) : 0;
}

}  // namespace

// --- YmodemStore --------------------------------------------------------------------------

YmodemStore::YmodemStore(std::string dumpDir) : dumpDir_(std::move(dumpDir)) {}

std::vector<YmodemReceivedFile> YmodemStore::Files() const {
    std::lock_guard<std::mutex> lock(mut_);
    return files_;
}

int YmodemStore::BatchesEnded() const {
    std::lock_guard<std::mutex> lock(mut_);
    return batchesEnded_;
}

int YmodemStore::Cancelled() const {
    std::lock_guard<std::mutex> lock(mut_);
    return cancelled_;
}

bool YmodemStore::WaitForComplete(size_t count, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mut_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return std::count_if(files_.begin(), files_.end(), [](const YmodemReceivedFile& f) {
                   return f.complete;
               }) >= static_cast<std::ptrdiff_t>(count);
    });
}

bool YmodemStore::WaitForBatchEnd(int count, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mut_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return batchesEnded_ >= count; });
}

size_t YmodemStore::Begin(std::string name, int64_t declaredSize) {
    std::lock_guard<std::mutex> lock(mut_);
    YmodemReceivedFile file;
    file.name = std::move(name);
    file.declaredSize = declaredSize;
    files_.push_back(std::move(file));
    changed_.notify_all();
    return files_.size() - 1;
}

void YmodemStore::Append(size_t index, const uint8_t* bytes, size_t count) {
    std::lock_guard<std::mutex> lock(mut_);
    files_.at(index).content.insert(files_.at(index).content.end(), bytes, bytes + count);
}

void YmodemStore::Complete(size_t index) {
    YmodemReceivedFile copy;
    {
        std::lock_guard<std::mutex> lock(mut_);
        YmodemReceivedFile& file = files_.at(index);
        if (file.declaredSize >= 0 &&
            file.content.size() > static_cast<size_t>(file.declaredSize)) {
            file.content.resize(static_cast<size_t>(file.declaredSize));
        }
        file.complete = true;
        copy = file;
    }
    Dump(index, copy);
    changed_.notify_all();
}

void YmodemStore::BatchEnded() {
    {
        std::lock_guard<std::mutex> lock(mut_);
        ++batchesEnded_;
    }
    changed_.notify_all();
}

void YmodemStore::Cancel() {
    int cancelled = 0;
    {
        std::lock_guard<std::mutex> lock(mut_);
        cancelled = ++cancelled_;
    }
    // The count of cancelled transfers, for a test that stopped its sender.
    if (!dumpDir_.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(dumpDir_, ec);
        std::ofstream(std::filesystem::path(dumpDir_) / "ymodem_cancelled.txt",
                      std::ios::binary | std::ios::trunc)
            << cancelled << '\n';
    }
    changed_.notify_all();
}

void YmodemStore::Dump(size_t index, const YmodemReceivedFile& file) const {
    if (dumpDir_.empty()) return;
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(dumpDir_, ec);
    const fs::path dir(dumpDir_);
    std::ofstream content(dir / ("ymodem_" + std::to_string(index) + ".bin"),
                          std::ios::binary | std::ios::trunc);
    content.write(reinterpret_cast<const char*>(file.content.data()),
                  static_cast<std::streamsize>(file.content.size()));
    std::ofstream list(dir / "ymodem.txt", std::ios::binary | std::ios::app);
    list << index << '\t' << file.declaredSize << '\t' << (file.complete ? 1 : 0) << '\t'
         << file.name << '\n';
    if (!content || !list) throw std::runtime_error("cannot write the YMODEM dump in " + dumpDir_);
}

// --- YmodemReceiver -----------------------------------------------------------------------

YmodemReceiver::YmodemReceiver(std::shared_ptr<YmodemStore> store, YmodemReceiverOptions options)
    : store_(std::move(store)), options_(options) {
    if (!store_) throw std::invalid_argument("a YMODEM receiver needs a store");
}

uint8_t YmodemReceiver::Retry() const {
    return state_ == State::AwaitData ? kNak : kC;
}

std::vector<uint8_t> YmodemReceiver::OnBytes(std::span<const uint8_t> bytes, uint32_t nowMs) {
    std::vector<uint8_t> out;
    if (state_ == State::Done) return out;
    started_ = true;
    lastInput_ = nowMs;
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    Process(out);
    return out;
}

void YmodemReceiver::Process(std::vector<uint8_t>& out) {
    while (!pending_.empty() && state_ != State::Done) {
        const uint8_t b = pending_.front();
        if (b != kCan) canSeen_ = false;
        if (b == kSoh || b == kStx) {
            if (!TakeBlock(out)) return;
            continue;
        }
        pending_.erase(pending_.begin());
        if (b == kEot) {
            OnEot(out);
        } else if (b == kCan) {
            if (canSeen_) {
                store_->Cancel();
                state_ = State::Done;
                return;
            }
            canSeen_ = true;
        }
        // Anything else is line noise.
    }
}

bool YmodemReceiver::TakeBlock(std::vector<uint8_t>& out) {
    const size_t payload = pending_.front() == kSoh ? 128 : 1024;
    const size_t size = payload + 5;
    if (pending_.size() < size) return false;
    const uint8_t number = pending_[1];
    const uint16_t crc = static_cast<uint16_t>(pending_[size - 2] << 8 | pending_[size - 1]);
    if (pending_[2] != 255 - number || Crc16(pending_.data() + 3, payload) != crc) {
        // Damaged: drop everything that came with it and ask again.
        pending_.clear();
        out.push_back(Retry());
        return true;
    }
    std::vector<uint8_t> body(pending_.begin() + 3, pending_.begin() + 3 + payload);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(size));
    if (state_ == State::AwaitData) {
        OnDataBlock(number, body.data(), body.size(), out);
    } else if (number == 0) {
        OnBlockZero(body.data(), body.size(), out);
    } else {
        out.push_back(Retry());  // a data block while a header is awaited
    }
    return true;
}

void YmodemReceiver::OnBlockZero(const uint8_t* payload, size_t length, std::vector<uint8_t>& out) {
    const size_t nameLength = strnlen(reinterpret_cast<const char*>(payload), length);
    out.push_back(kAck);
    if (nameLength == 0) {
        store_->BatchEnded();
        state_ = State::Done;
        return;
    }
    std::string name(reinterpret_cast<const char*>(payload), nameLength);
    int64_t size = -1;
    size_t i = nameLength + 1;
    if (i < length && payload[i] >= '0' && payload[i] <= '9') {
        size = 0;
        for (; i < length && payload[i] >= '0' && payload[i] <= '9' && size < (int64_t{1} << 40);
             ++i) {
            size = size * 10 + (payload[i] - '0');
        }
    }
    file_ = store_->Begin(std::move(name), size);
    remaining_ = size;
    expected_ = 1;
    eotNaked_ = false;
    timeouts_ = 0;
    state_ = State::AwaitData;
    out.push_back(kC);
}

void YmodemReceiver::OnDataBlock(uint8_t number, const uint8_t* payload, size_t length,
                                 std::vector<uint8_t>& out) {
    if (number == expected_) {
        size_t keep = length;
        if (remaining_ >= 0) keep = static_cast<size_t>(std::min<int64_t>(remaining_, length));
        store_->Append(*file_, payload, keep);
        if (remaining_ >= 0) remaining_ -= static_cast<int64_t>(keep);
        ++expected_;
        timeouts_ = 0;
        out.push_back(kAck);
    } else if (number == static_cast<uint8_t>(expected_ - 1)) {
        out.push_back(kAck);  // a repeat of the block already taken
    } else {
        Abort(out);
    }
}

void YmodemReceiver::OnEot(std::vector<uint8_t>& out) {
    if (state_ != State::AwaitData) {
        out.push_back(kAck);  // our earlier ACK was lost, or no file was announced
        return;
    }
    if (options_.nakFirstEot && !eotNaked_) {
        eotNaked_ = true;
        out.push_back(kNak);
        return;
    }
    out.push_back(kAck);
    store_->Complete(*file_);
    file_.reset();
    state_ = State::AwaitBatchEnd;
    timeouts_ = 0;
    out.push_back(kC);
}

void YmodemReceiver::Abort(std::vector<uint8_t>& out) {
    out.push_back(kCan);
    out.push_back(kCan);
    store_->Cancel();
    state_ = State::Done;
}

std::vector<uint8_t> YmodemReceiver::OnTimer(uint32_t nowMs) {
    std::vector<uint8_t> out;
    if (state_ == State::Done) return out;
    if (!started_) {
        started_ = true;
        lastInput_ = nowMs;
    }
    if (!pending_.empty() && Since(nowMs, lastInput_) >= options_.blockTimeoutMs) {
        // A block that stopped half-way.
        pending_.clear();
        canSeen_ = false;
        out.push_back(Retry());
        lastInput_ = nowMs;
        ++timeouts_;
    }
    if (state_ == State::AwaitHeader) {
        if (!lastPrompt_ || Since(nowMs, *lastPrompt_) >= options_.promptIntervalMs) {
            if (prompts_ >= options_.maxPrompts) {
                state_ = State::Done;
                return out;
            }
            out.push_back(kC);
            ++prompts_;
            lastPrompt_ = nowMs;
        }
        return out;
    }
    if (pending_.empty() && Since(nowMs, lastInput_) >= options_.idleTimeoutMs) {
        out.push_back(Retry());
        lastInput_ = nowMs;
        ++timeouts_;
    }
    if (timeouts_ > options_.maxTimeouts) {
        if (state_ == State::AwaitData) {
            Abort(out);
        } else {
            state_ = State::Done;  // the file is complete; only the batch end never came
        }
    }
    return out;
}

DeviceModel::ReceiverFactory MakeYmodemReceiverFactory(std::shared_ptr<YmodemStore> store,
                                                       YmodemReceiverOptions options) {
    return [store = std::move(store), options] {
        return std::make_unique<YmodemReceiver>(store, options);
    };
}

}  // namespace sim
