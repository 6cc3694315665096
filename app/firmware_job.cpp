// The firmware update: checks a packed firmware file, unpacks it and writes the image to the
// firmware area in 1,024-byte frames while the navigator runs its boot loader.
#include <span>

#include "app/main.h"
#include "platform/tick.h"
#include "protocol/fur_codec.h"
#include "transfer/packed_file.h"

namespace {

constexpr uint32_t kFirmwareBaseAddress = 0x90000000;
constexpr std::size_t FirmwareMaxPacketLen = 1024;
constexpr uint32_t kFrameAckTimeoutMs = 10000;

// What the file check tells the user before anything is sent.
enum class FileVerdict { Good, Silent, TooLarge, BadChecksum, Unreadable };

FileVerdict Judge(const transfer::PackedFile& packed) {
    using transfer::PackedHeaderStatus;
    using transfer::UnpackStatus;
    switch (packed.header.status) {
        case PackedHeaderStatus::Ok:
            break;
        case PackedHeaderStatus::CannotOpen:
            return FileVerdict::Unreadable;
        case PackedHeaderStatus::TooLarge:
            return FileVerdict::TooLarge;
        default:
            // Not a packed firmware file: the job ends without a word.
            return FileVerdict::Silent;
    }
    switch (packed.content.status) {
        case UnpackStatus::Ok:
            // A digest with no image after it gives nothing to write.
            return packed.content.payload.empty() ? FileVerdict::BadChecksum : FileVerdict::Good;
        case UnpackStatus::DigestMismatch:
        case UnpackStatus::NoDigest:
        case UnpackStatus::CorruptData:
            return FileVerdict::BadChecksum;
        case UnpackStatus::OverLimit:
            return FileVerdict::TooLarge;
        case UnpackStatus::ReadError:
            return FileVerdict::Unreadable;
    }
    return FileVerdict::Unreadable;
}

}  // namespace

JobResult Main::FirmwareThread() {
    JobResult result;
    result.job = JobKind::Firmware;
    const transfer::PackedFile packed =
        transfer::ReadPackedFile(filePath, transfer::PackedFileRules::FirmwareByFrames());
    const FileVerdict verdict = SendPort ? Judge(packed) : FileVerdict::Unreadable;
    // A refused file leaves the window as it was before the click, which disabled the button;
    // the window never went into its busy state, so this only gives the button back.
    switch (verdict) {
        case FileVerdict::Good:
            break;
        case FileVerdict::Silent:
            UpdateButtonDelegate(true);
            result.failure = JobFailure::RefusedFile;
            result.detail = transfer::Describe(packed.header.status);
            return result;
        case FileVerdict::TooLarge:
            UpdateButtonDelegate(true);
            result.failure = JobFailure::FileTooLarge;
            result.message = ShowJobMessage(FileTooLargeMessage());
            return result;
        case FileVerdict::BadChecksum:
            UpdateButtonDelegate(true);
            result.failure = JobFailure::Checksum;
            result.message = ShowJobMessage(BadChecksumMessage());
            return result;
        case FileVerdict::Unreadable:
            // A file that vanished or cannot be read after the dialog: a failed run.
            result.failure = SendPort ? JobFailure::FileUnreadable : JobFailure::NoDevice;
            result.message = PostError(result.detail);
            UpdateButtonDelegate(true);
            DisconnectRevDev();
            return result;
    }

    const std::vector<uint8_t>& image = packed.content.payload;
    const std::size_t blocks = (image.size() + FirmwareMaxPacketLen - 1) / FirmwareMaxPacketLen;
    auto block = [&](std::size_t k) {
        const std::size_t begin = k * FirmwareMaxPacketLen;
        return std::span<const uint8_t>(image).subspan(
            begin, std::min(FirmwareMaxPacketLen, image.size() - begin));
    };

    UpdateButtonDelegate(false);
    TotalPacketNum = static_cast<int32_t>(blocks + 1);
    result.framesTotal = TotalPacketNum;
    PostProgressRange(TotalPacketNum, 1);

    // Frame 0 opens the run without data, frames 1 .. P-1 carry blocks 1 .. P-1, and frame P
    // carries block 0: the image's first block (its boot header) is written last, so an
    // interrupted run never leaves a device with a valid header over a partial image.
    bool acknowledged = true;
    bool stopped = false;
    for (std::size_t i = 0; i <= blocks && acknowledged; ++i) {
        if (StopRequested()) {
            // Block 0 goes last, so a stopped run never leaves a valid header over a partial
            // image.
            result.failure = JobFailure::Interrupted;
            acknowledged = false;
            stopped = true;
            break;
        }
        std::vector<uint8_t> frame;
        if (i == 0) {
            frame = MakeFwpgFrame(kFirmwareBaseAddress, 0, {});
        } else if (i < blocks) {
            frame = MakeFwpgFrame(
                kFirmwareBaseAddress + static_cast<uint32_t>(i * FirmwareMaxPacketLen),
                static_cast<uint16_t>(i), block(i));
        } else {
            frame = MakeFwpgFrame(kFirmwareBaseAddress, static_cast<uint16_t>(i), block(0));
        }
        SendPort->DiscardInBuffer();
        SendPort->SendCmd(frame.data(), 0, static_cast<int32_t>(frame.size()));
        const auto deadline = static_cast<int32_t>(platform::TickCount() + kFrameAckTimeoutMs);
        const int32_t ack = WaitForAck(SendPort.get(), deadline, BOOT2_FWPG);
        acknowledged = ack == kAckAccepted;
        if (acknowledged) {
            ++result.framesAcknowledged;
            PostProgressStep();
        } else {
            result.failure = AckFailure(ack, *SendPort);
        }
    }

    if (!acknowledged && !stopped) result.message = PostError(result.detail);
    UpdateButtonDelegate(true);
    DisconnectRevDev();
    if (acknowledged) {
        result.outcome = JobOutcome::Done;
        result.failure = JobFailure::None;
        result.message = ShowJobMessage(WriteDoneMessage());
    }
    return result;
}
