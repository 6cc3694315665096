#pragma once
// The virtual navigator's behaviour, without any input or output: feed it the bytes the PC
// wrote, it returns the bytes the device answers, each with the delay and the splitting the
// fault settings ask for. Deterministic: the same configuration and the same input give the
// same output. Not thread-safe; SimServer serialises access.
//
// Frames are found with the frame codec; a frame cut between two feeds is completed by the
// next. The device decides by class and id (not by the codec's command value) what a frame
// asks for:
//
//   0A 04 VERSION_POLL (payload < 32)   -> VERSION_DATA: the mode's version text, NUL-padded to
//                                          64 bytes (longer texts unpadded)        all modes
//   0A 07 BOOTMEM_DATA request (empty)  -> 0A 07 with the 64 bytes of boot memory   all modes
//   F4 05 BOOT2_FWPG (address, index, data)
//                                       -> ACK_ACK F4 05 when stored, else ACK_NAK F4 05
//   F4 06 BOOT2_RUN (address)           -> ACK_ACK F4 06; in boot mode, a run at 0x2622D after
//                                          the whole 14,604-byte image arrived at 0x26000
//                                          starts the patch program (mode Patch)
//   F4 30 BOOT2_SPINORID_POLL (empty)   -> F4 30 with the 4 id bytes        patch, normal mode
//   F4 31 BOOT2_SPINORRD_POLL (address, length)
//                                       -> F4 31 with the requested flash bytes (0xFF past the
//                                          chip's end); a length over 9,992 -> ACK_NAK F4 31
//                                                                           patch, normal mode
//   06 40 CFG_SIMPLERST (1 byte)        -> no reply; restart into normal firmware (RAM lost)
//   06 09 CFG_CFG (8 bytes)             -> ACK_ACK 06 09
//   06 50 CFG_FWUP (1 byte)             -> ACK_ACK 06 50; YmodemRequested() becomes true and
//                                          the installed ByteReceiver (if any) takes the line
//   anything else, payloads shorter than the command needs, bad checksums -> no reply
//
// Where BOOT2_FWPG may write (anything else, odd data lengths, and ranges that leave an area
// are refused with ACK_NAK F4 05; an empty data block is acknowledged and writes nothing):
//
//   address 0, exactly 64 bytes           boot memory                    all modes
//   0x00020000 .. 0x0003FFFF              RAM (the patch program's home) boot, patch mode
//   0x90000000 .. 0x90FFFFFF              firmware area                  boot mode
//   0xC0000000 .. 0xC1FFFFFF              course data area               patch, normal mode
//
// Everything stored is also kept in WrittenMemory() for the whole session (boot memory writes
// included), while the RAM that decides the patch start is lost on reset.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/byte_receiver.h"
#include "sim/frame_journal.h"
#include "sim/sim_config.h"
#include "sim/sparse_memory.h"
#include "sim/spinor_flash.h"

namespace sim {

inline constexpr uint32_t kPatchLoadAddress = 0x26000;
inline constexpr uint32_t kPatchEntryAddress = 0x2622D;
inline constexpr uint32_t kPatchImageSize = 14604;
inline constexpr size_t kBootMemorySize = 64;
inline constexpr size_t kVersionPayloadSize = 64;
inline constexpr uint32_t kMaxPayload = 9992;

struct MemoryArea {
    uint32_t begin;
    uint32_t end;  // exclusive
};
inline constexpr MemoryArea kRamArea{0x00020000, 0x00040000};
inline constexpr MemoryArea kFirmwareArea{0x90000000, 0x91000000};
inline constexpr MemoryArea kCourseArea{0xC0000000, 0xC2000000};

// One reply of the device, ready for the wire.
struct Reply {
    std::vector<uint8_t> bytes;  // noise included
    uint32_t delayMs = 0;        // wait after the frame arrived before writing
    uint32_t splitBytes = 0;     // write in pieces of this size (0: at once)
    uint32_t splitGapMs = 0;     // pause between pieces
    bool acknowledgement = false;
};

struct FeedResult {
    std::vector<Reply> replies;
    // The device disappears once these replies are written; it takes no further input.
    bool vanish = false;
};

class DeviceModel {
public:
    using ReceiverFactory = std::function<std::unique_ptr<ByteReceiver>()>;

    explicit DeviceModel(DeviceConfig config = {});
    ~DeviceModel();
    DeviceModel(DeviceModel&&) noexcept;
    DeviceModel& operator=(DeviceModel&&) noexcept;

    // Bytes the PC wrote. `nowMs` is handed to an active ByteReceiver only.
    FeedResult Feed(std::span<const uint8_t> bytes, uint32_t nowMs = 0);
    // Lets an active ByteReceiver speak; nothing otherwise.
    FeedResult Timer(uint32_t nowMs);
    // How often Timer wants to run; nothing while no receiver is active.
    std::optional<uint32_t> TimerIntervalMs() const;

    DeviceMode Mode() const { return mode_; }
    void SetMode(DeviceMode mode) { mode_ = mode; }
    // Version text of the current mode (custom or default).
    std::string VersionText() const;
    void SetVersionText(std::string text);  // for the current mode
    void SetVersionText(DeviceMode mode, std::string text);
    void ClearVersionTexts();

    const FaultConfig& Faults() const { return config_.faults; }
    void SetFaults(FaultConfig faults) { config_.faults = std::move(faults); }
    void SetSpinorId(std::array<uint8_t, 4> id) { config_.spinorId = id; }

    // Good frames received so far (the fault counter).
    uint32_t FramesReceived() const { return framesReceived_; }
    // Complete frames thrown away for a wrong checksum.
    uint32_t BadFrames() const { return badFrames_; }
    uint32_t ResetCount() const { return resetCount_; }
    bool YmodemRequested() const { return ymodemRequested_; }
    bool ReceiverActive() const { return receiver_ != nullptr; }
    bool Vanished() const { return vanished_; }
    // Received bytes held back as the start of a frame not yet complete.
    size_t PendingBytes() const { return pending_.size(); }

    const std::vector<JournalEntry>& Journal() const { return journal_; }
    const SparseMemory& WrittenMemory() const { return written_; }
    const std::array<uint8_t, kBootMemorySize>& BootMemory() const { return bootMemory_; }
    void SetBootMemory(const std::array<uint8_t, kBootMemorySize>& bytes) { bootMemory_ = bytes; }
    SpiNorFlash& Flash() { return flash_; }
    const SpiNorFlash& Flash() const { return flash_; }

    void SetReceiverFactory(ReceiverFactory factory) { receiverFactory_ = std::move(factory); }

private:
    struct Frame;
    void ProcessPending(FeedResult& out, uint32_t nowMs);
    void HandleFrame(const Frame& frame, FeedResult& out);
    void Execute(const Frame& frame, FeedResult& out);
    void HandleProgram(const Frame& frame, FeedResult& out);
    void HandleRun(const Frame& frame, FeedResult& out);
    void HandleSpinorRead(const Frame& frame, FeedResult& out);
    bool MayWrite(uint32_t address, uint32_t length) const;
    void Reset();
    void Journalize(const Frame& frame);
    void AddReply(FeedResult& out, std::vector<uint8_t> frame, bool acknowledgement);
    void Acknowledge(FeedResult& out, bool positive, uint8_t cls, uint8_t id);
    void AddReceiverOutput(FeedResult& out, std::vector<uint8_t> bytes);
    void DropFinishedReceiver();
    std::vector<uint8_t> Noise();

    DeviceConfig config_;
    DeviceMode mode_;
    std::map<DeviceMode, std::string> versionTexts_;
    SpiNorFlash flash_;
    SparseMemory written_;
    SparseMemory ram_;
    std::array<uint8_t, kBootMemorySize> bootMemory_{};
    std::vector<uint8_t> pending_;
    std::vector<JournalEntry> journal_;
    size_t journalPayloadBytes_ = 0;
    uint32_t framesReceived_ = 0;
    uint32_t badFrames_ = 0;
    uint32_t resetCount_ = 0;
    bool ymodemRequested_ = false;
    bool vanished_ = false;
    uint64_t noiseState_;
    ReceiverFactory receiverFactory_;
    std::unique_ptr<ByteReceiver> receiver_;
};

}  // namespace sim
