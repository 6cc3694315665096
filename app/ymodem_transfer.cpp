// Firmware transfer by YMODEM: the device is switched into update mode with two acknowledged
// frames, asks for the file with 'C', and the sender hands it the packed file's payload while
// ModemTrd shows the progress.
#include <algorithm>
#include <optional>

#include "app/main.h"
#include "platform/tick.h"
#include "protocol/byte_wait.h"
#include "protocol/fur_codec.h"
#include "transfer/packed_file.h"

namespace {

// Each update-mode frame must be acknowledged within this time.
constexpr uint32_t kModeAckMs = 3000;
// How long the device may take to ask for the file.
constexpr uint32_t kFirstCMs = 5000;
constexpr uint8_t kC = 0x43;
constexpr int64_t kMaxYmodemPayload =
    int64_t{transfer::kYmodemMaxDataBlocks} * transfer::kYmodemDataPayload;

// Drops stale input, sends `frame` and waits for its acknowledgement.
bool SendAcknowledged(Main& main, FIFOStream& port, const std::vector<uint8_t>& frame,
                      FUR_CMD_NAME command, JobResult& result) {
    if (frame.empty()) return false;
    port.DiscardInBuffer();
    port.SendCmd(frame.data(), 0, static_cast<int32_t>(frame.size()));
    const auto deadline = static_cast<int32_t>(platform::TickCount() + kModeAckMs);
    const int32_t ack = main.WaitForAck(&port, deadline, static_cast<uint32_t>(command));
    if (ack != kAckAccepted) result.failure = AckFailure(ack, port);
    return ack == kAckAccepted;
}

// Reads until the receiver's 'C'; the time-out error after kFirstCMs without one.
void AwaitFirstC(FIFOStream& port) {
    const uint32_t deadline = platform::TickCount() + kFirstCMs;
    for (;;) {
        uint8_t b = 0;
        while (port.Read(&b, 0, 1) == 1) {
            if (b == kC) return;
        }
        if (platform::TickReached(platform::TickCount(), deadline) || !port.IsOpen()) {
            throw TimeoutException("ReadByte Timeout");
        }
        AwaitBytes(port, deadline);
    }
}

}  // namespace

bool Main::StartYmodemTransfer(const std::string& path) {
    if (JobRunning() || QueryRunning() || !ConnectRefDev()) return false;
    auto stream = CurrentStream();
    if (!stream) return false;
    stream->ReadTimeout(kJobReadTimeoutMs);
    SendPort = stream;
    filePath = path;
    return StartJob(&Main::YmodemThread, JobButton::FwDown);
}

JobResult Main::YmodemThread() {
    JobResult result;
    result.job = JobKind::Ymodem;
    UpdateButtonDelegate(false);
    bool ok = false;
    try {
        FIFOStream* port = SendPort.get();
        // Checked first, so a wrong file leaves the device as it was.
        std::optional<platform::FileStream> file;
        try {
            file.emplace(filePath);
        } catch (const platform::StreamError&) {
            result.detail = transfer::Describe(transfer::PackedHeaderStatus::CannotOpen);
            throw;
        }
        const transfer::PackedHeader header = transfer::ReadPackedHeader(
            *file, file->Length(), transfer::PackedFileRules::FirmwareByYmodem());
        // The content too (digest, unpack limit, block limit): a file that cannot be sent must
        // not leave the device waiting in update mode.
        transfer::UnpackResult content;
        if (header.ok()) content = transfer::ScanPackedContent(*file, file->Length());
        const FUR_PACKET_CFG_CFG config{2, 7};
        const FUR_PACKET_CFG_FWUP update{16};
        if (!header.ok()) {
            result.failure = JobFailure::RefusedFile;
            result.detail = transfer::Describe(header.status);
        } else if (!content.ok()) {
            result.failure =
                content.IsChecksumFailure() ? JobFailure::Checksum : JobFailure::RefusedFile;
            result.detail = transfer::Describe(content.status);
        } else if (content.contentLength - 16 > kMaxYmodemPayload) {
            result.failure = JobFailure::FileTooLarge;
            result.detail = "the payload is larger than 65,535 YMODEM blocks";
        } else if (!port) {
            result.failure = JobFailure::NoDevice;
        } else if (StopRequested()) {
            result.failure = JobFailure::Interrupted;
        } else if (!SendAcknowledged(*this, *port, MakeFrame(CFG_CFG, RecordBytes(config)), CFG_CFG,
                                     result) ||
                   !SendAcknowledged(*this, *port, MakeFrame(CFG_FWUP, RecordBytes(update)),
                                     CFG_FWUP, result)) {
            // The failure kind is in the result.
        } else {
            if (ModemTrd.joinable()) ModemTrd.join();
            sendModem = std::make_shared<transfer::Ymodem>();
            ModemTrd = std::jthread(&Main::readSendModem, this);
            AwaitFirstC(*port);
            file->Seek(header.gzipOffset);
            ok = sendModem->sendPackets(*file, *port, true);
            if (!ok) {
                result.failure = sendModem->receiverCancelled
                                     ? JobFailure::RefusedFile
                                     : WaitFailure(*port, JobFailure::NotAnswering);
            }
        }
    } catch (const std::exception&) {
        // Time-out, unreadable file, a failing link: the transfer failed.
        ok = false;
        if (!result.detail.empty()) {
            result.failure = JobFailure::FileUnreadable;
        } else if (result.failure == JobFailure::Unexpected) {
            result.failure = SendPort ? WaitFailure(*SendPort, JobFailure::NotAnswering)
                                      : JobFailure::NotAnswering;
        }
    }
    if (sendModem) {
        sendModem->finished = true;
        result.bytesTotal = sendModem->fileSize;
        result.bytesSent = std::max<int64_t>(0, sendModem->fileSize - sendModem->bytesLeft);
    }
    if (ModemTrd.joinable()) ModemTrd.join();
    UpdateButtonDelegate(true);
    DisconnectRevDev();
    if (!ok) {
        // A stop asked for by the front end is reported by the front end.
        if (result.failure != JobFailure::Interrupted) result.message = PostError(result.detail);
    } else if (sendModem->fileSize >= 0 && sendModem->bytesLeft == 0) {
        // The sender has handed over every byte only when nothing is left.
        result.outcome = JobOutcome::Done;
        result.failure = JobFailure::None;
    } else {
        result.failure = JobFailure::Interrupted;
    }
    return result;
}

void Main::readSendModem() {
    const std::shared_ptr<transfer::Ymodem> modem = sendModem;
    if (!modem) return;
    const auto post = [this, &modem] {
        progressMax = modem->fileSize;
        const int32_t sent = modem->fileSize - modem->bytesLeft;
        UpdateProgressDelegate(sent >= 0 && sent <= progressMax ? sent : 0);
    };
    bool posted = false;
    while (!modem->finished) {
        // The sender stops before its next block, with the cancel sequence.
        if (StopRequested()) modem->finished = true;
        platform::SleepMs(10);
        post();
        posted = true;
    }
    // The last blocks are often acknowledged within the final sleep: show where it ended.
    if (posted) post();
}
