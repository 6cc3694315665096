// The course-data update: writes one course file into the navigator's flash at the address its
// name selects, in 2,048-byte frames, decompressing ".kzip" files on the way.
#include <memory>
#include <optional>
#include <vector>

#include "app/course_file_table.h"
#include "app/main.h"
#include "platform/tick.h"
#include "protocol/fur_codec.h"
#include "protocol/patch_upload.h"
#include "transfer/gzip_stream.h"
#include "transfer/packed_file.h"

namespace {

constexpr std::size_t kCourseFrameData = 2048;
constexpr uint32_t kFrameAckTimeoutMs = 10000;
// Pause after the patch program started, before the flash is written.
constexpr uint32_t kPatchSettleMs = 1000;

// The open input: the file, and a decompressor over it for packed and ".kzip" files.
struct CourseInput {
    std::unique_ptr<platform::FileStream> file;
    std::unique_ptr<transfer::GZipInputStream> gzip;
    platform::ByteStream& Source() {
        return gzip ? static_cast<platform::ByteStream&>(*gzip) : *file;
    }
};

// Opens the file as its kind says; nothing when it cannot be opened or a packed file's header
// is not that of frame data.
std::optional<CourseInput> OpenCourseInput(const std::string& path, int32_t kind) {
    CourseInput input;
    try {
        input.file = std::make_unique<platform::FileStream>(path);
    } catch (const platform::StreamError&) {
        return std::nullopt;
    }
    if (kind == kKroTypePacked) {
        const auto header = transfer::ReadPackedHeader(*input.file, input.file->Length(),
                                                       transfer::PackedFileRules::CourseData());
        if (!header.ok()) return std::nullopt;
    }
    if (kind == kKroTypePacked || kind == kKroTypeGzip) {
        input.gzip = std::make_unique<transfer::GZipInputStream>(*input.file);
    }
    return input;
}

}  // namespace

std::optional<int64_t> CourseFrameCount(const std::string& path, int32_t kind) {
    if (kind != kKroTypeRaw && kind != kKroTypeGzip) return std::nullopt;
    int64_t length = 0;
    try {
        platform::FileStream file(path);
        if (kind == kKroTypeRaw) {
            length = file.Length();
        } else {
            // ISIZE: the unpacked length modulo 2^32, little-endian, in the last four bytes.
            if (file.Length() < 18) return std::nullopt;
            file.Seek(file.Length() - 4);
            uint8_t size[4] = {};
            if (file.Read(size, 0, 4) != 4) return std::nullopt;
            length = int64_t{size[0]} | int64_t{size[1]} << 8 | int64_t{size[2]} << 16 |
                     int64_t{size[3]} << 24;
        }
    } catch (const platform::StreamError&) {
        return std::nullopt;
    }
    return (length + static_cast<int64_t>(kCourseFrameData) - 1) /
           static_cast<int64_t>(kCourseFrameData);
}

JobResult Main::KrodownThread() {
    JobResult result;
    result.job = JobKind::CourseData;
    UpdateButtonDelegate(false);
    auto failA = [this, &result](JobFailure failure) {
        result.failure = failure;
        UpdateButtonDelegate(true);
        result.message = PostError(result.detail);
        DisconnectRevDev();
        return result;
    };
    if (!SendPort) return failA(JobFailure::NoDevice);
    if (!patchStatus && !FwType && sendPatchFile() != kPatchStarted) {
        return failA(WaitFailure(*SendPort, JobFailure::PatchFailed));
    }
    platform::SleepMs(kPatchSettleMs);

    std::optional<CourseInput> input = OpenCourseInput(filePath, kroType);
    if (!input) return failA(JobFailure::FileUnreadable);
    const std::optional<uint32_t> start = CourseFileAddress(CourseFileName(filePath));
    if (!start) {
        // An unknown name leaves the connection open, as it found it.
        input.reset();
        result.failure = JobFailure::UnknownCourseFile;
        result.message = PostError(result.detail);
        UpdateButtonDelegate(true);
        ConnectRefDev();
        return result;
    }

    uint32_t address = *start;
    // Data past the file's flash area (for a ".kzip", past the end of the address space,
    // where the address would wrap) is not sent.
    const uint64_t slot = CourseFileSlotSize(CourseFileName(filePath));
    uint64_t written = 0;
    uint16_t index = 0;  // counts over the whole run and wraps after 65,535
    bool success = true;
    // The frames of the whole file when known now; else they add up chunk by chunk.
    const int64_t planned = CourseFrameCount(filePath, kroType).value_or(0);
    int64_t counted = 0;
    std::vector<uint8_t> chunk(static_cast<std::size_t>(kStreamChunkLimit));
    try {
        for (;;) {
            const int32_t length = ReadBytesFromStream(input->Source(), chunk, false);
            const std::size_t c = static_cast<std::size_t>(std::max(length, 0));
            const auto frames = static_cast<int32_t>((c + kCourseFrameData - 1) / kCourseFrameData);
            TotalPacketNum = frames;
            counted += frames;
            result.framesTotal = std::max(planned, counted);
            if (frames > 0) {
                progressMax = frames;
                PostProgressRange(frames, 1);
            }
            for (std::size_t at = 0; at < c; at += kCourseFrameData) {
                if (StopRequested()) {
                    result.failure = JobFailure::Interrupted;
                    success = false;
                    break;
                }
                const auto data =
                    std::span<const uint8_t>(chunk).subspan(at, std::min(kCourseFrameData, c - at));
                written += FwpgDataLength(data.size());
                if (written > slot) {
                    result.failure = JobFailure::FileTooLarge;
                    result.detail = "the data does not fit the file's flash area";
                    success = false;
                    break;
                }
                const auto frame = MakeFwpgFrame(address, index, data);
                ++index;
                address += static_cast<uint32_t>(FwpgDataLength(data.size()));
                SendPort->DiscardInBuffer();
                SendPort->SendCmd(frame.data(), 0, static_cast<int32_t>(frame.size()));
                const auto deadline =
                    static_cast<int32_t>(platform::TickCount() + kFrameAckTimeoutMs);
                const int32_t ack = WaitForAck(SendPort.get(), deadline, BOOT2_FWPG);
                if (ack != kAckAccepted) {
                    result.failure = AckFailure(ack, *SendPort);
                    success = false;
                    break;
                }
                ++result.framesAcknowledged;
                PostProgressStep();
            }
            if (!success || c != static_cast<std::size_t>(kStreamChunkLimit)) break;
        }
    } catch (const platform::StreamError&) {
        // A corrupt ".kzip" or a read error: the frames sent so far stay written.
        result.failure = JobFailure::FileUnreadable;
        success = false;
    }
    input.reset();

    UpdateButtonDelegate(true);
    if (success) {
        UpdateProgressDelegate(progressMax);
        if (FwType) SendResetCmd();
        UpdateButtonDelegate(true);
        DisconnectRevDev();
        result.outcome = JobOutcome::Done;
        result.failure = JobFailure::None;
        result.message = ShowJobMessage(WriteDoneMessage());
    } else {
        // A stop asked for by the front end is reported by the front end.
        if (result.failure != JobFailure::Interrupted) result.message = PostError(result.detail);
        DisconnectRevDev();
    }
    return result;
}
