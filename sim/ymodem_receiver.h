#pragma once
// The virtual navigator's YMODEM receiver: what the device runs after it acknowledged the
// firmware update command (CFG_FWUP). It asks with 'C' until a header block comes, then
// receives as standard receivers do: ACK for each good block (a repeated block is ACKed again),
// NAK for a damaged one, NAK for the first EOT and ACK for the second (or ACK at once), then 'C'
// for the next header; an empty header ends the batch. Two CANs cancel. Block numbers other
// than the expected one or its predecessor cancel the transfer (CAN CAN).
//
// What arrived is kept in a YmodemStore shared with tests and caddora-sim: per file the name,
// the announced size and the content (cut to that size), and, when the store has a dump
// folder, written there as soon as a file is complete:
//   <dir>/ymodem_<n>.bin   the content of file n (counted from 0)
//   <dir>/ymodem.txt       one line per file: "<n>\t<size>\t<complete 0|1>\t<name>"
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/byte_receiver.h"
#include "sim/device_model.h"

namespace sim {

struct YmodemReceivedFile {
    std::string name;
    int64_t declaredSize = -1;  // -1 when the header carried no size
    std::vector<uint8_t> content;
    bool complete = false;  // the EOT was acknowledged
};

class YmodemStore {
public:
    explicit YmodemStore(std::string dumpDir = {});

    // Files in the order they started, the one still arriving included.
    std::vector<YmodemReceivedFile> Files() const;
    // Batches that ended with an empty header block.
    int BatchesEnded() const;
    // Transfers the sender or the receiver cancelled.
    int Cancelled() const;
    // Waits until `count` files are complete; false at the time-out.
    bool WaitForComplete(size_t count, uint32_t timeoutMs) const;
    // Waits until `count` batches ended; false at the time-out.
    bool WaitForBatchEnd(int count, uint32_t timeoutMs) const;

    // --- For the receiver ------------------------------------------------------------------
    // Starts a file and returns its index.
    size_t Begin(std::string name, int64_t declaredSize);
    void Append(size_t index, const uint8_t* bytes, size_t count);
    // Cuts the content to the announced size, marks it complete and dumps it.
    void Complete(size_t index);
    void BatchEnded();
    void Cancel();

private:
    void Dump(size_t index, const YmodemReceivedFile& file) const;

    std::string dumpDir_;
    mutable std::mutex mut_;
    mutable std::condition_variable changed_;
    std::vector<YmodemReceivedFile> files_;
    int batchesEnded_ = 0;
    int cancelled_ = 0;
};

struct YmodemReceiverOptions {
    // 'C' this often while no header came, at most maxPrompts times (then the receiver gives
    // up and the device reads frames again).
    uint32_t promptIntervalMs = 1000;
    uint32_t maxPrompts = 60;
    // NAK the first EOT of a file (as the protocol asks); false ACKs it at once.
    bool nakFirstEot = true;
    // A block that stops arriving for this long is dropped and NAKed.
    uint32_t blockTimeoutMs = 1000;
    // Silence between blocks this long is answered with NAK; after maxTimeouts the receiver
    // gives up.
    uint32_t idleTimeoutMs = 10000;
    uint32_t maxTimeouts = 10;
};

class YmodemReceiver : public ByteReceiver {
public:
    YmodemReceiver(std::shared_ptr<YmodemStore> store, YmodemReceiverOptions options = {});

    std::vector<uint8_t> OnBytes(std::span<const uint8_t> bytes, uint32_t nowMs) override;
    std::vector<uint8_t> OnTimer(uint32_t nowMs) override;
    uint32_t TimerIntervalMs() const override { return 100; }
    bool Finished() const override { return state_ == State::Done; }

private:
    enum class State { AwaitHeader, AwaitData, AwaitBatchEnd, Done };
    void Process(std::vector<uint8_t>& out);
    // Handles a whole block at the front of pending_; false when it is not complete yet.
    bool TakeBlock(std::vector<uint8_t>& out);
    void OnBlockZero(const uint8_t* payload, size_t length, std::vector<uint8_t>& out);
    void OnDataBlock(uint8_t number, const uint8_t* payload, size_t length,
                     std::vector<uint8_t>& out);
    void OnEot(std::vector<uint8_t>& out);
    void Abort(std::vector<uint8_t>& out);
    // The request for the next block: 'C' while a header is awaited, NAK otherwise.
    uint8_t Retry() const;

    std::shared_ptr<YmodemStore> store_;
    YmodemReceiverOptions options_;
    State state_ = State::AwaitHeader;
    std::vector<uint8_t> pending_;
    std::optional<size_t> file_;
    int64_t remaining_ = 0;
    uint8_t expected_ = 1;
    bool eotNaked_ = false;
    bool canSeen_ = false;
    std::optional<uint32_t> lastPrompt_;
    uint32_t prompts_ = 0;
    uint32_t lastInput_ = 0;
    uint32_t timeouts_ = 0;
    bool started_ = false;
};

// A factory for DeviceModel::SetReceiverFactory / SimConfig::receiverFactory.
DeviceModel::ReceiverFactory MakeYmodemReceiverFactory(std::shared_ptr<YmodemStore> store,
                                                       YmodemReceiverOptions options = {});

}  // namespace sim
