#include "sim/device_model.h"

#include <algorithm>
#include <cstring>

#include "protocol/fur_codec.h"

namespace sim {
namespace {

// Received bytes are appended to the parse buffer in steps of this size, so the buffer stays
// far below what one parsefur call examines.
constexpr size_t kFeedStep = 16384;

constexpr uint16_t Code(uint8_t cls, uint8_t id) {
    return static_cast<uint16_t>(cls << 8 | id);
}

uint32_t ReadU32(std::span<const uint8_t> p, size_t at) {
    uint32_t v;
    std::memcpy(&v, p.data() + at, 4);
    return v;
}

uint16_t ReadU16(std::span<const uint8_t> p, size_t at) {
    uint16_t v;
    std::memcpy(&v, p.data() + at, 2);
    return v;
}

bool Inside(const MemoryArea& area, uint32_t address, uint32_t length) {
    if (address < area.begin) return false;
    if (length == 0) return address < area.end;
    return uint64_t{address} + length <= area.end;
}

std::array<uint8_t, kBootMemorySize> DefaultBootMemory() {
    std::array<uint8_t, kBootMemorySize> m{};
    for (size_t i = 0; i < m.size(); ++i) m[i] = static_cast<uint8_t>(i);
    return m;
}

}  // namespace

struct DeviceModel::Frame {
    uint8_t cls;
    uint8_t id;
    std::span<const uint8_t> payload;
};

DeviceModel::DeviceModel(DeviceConfig config)
    : config_(std::move(config)),
      mode_(config_.mode),
      flash_(config_.flashSize),
      bootMemory_(DefaultBootMemory()),
      noiseState_(config_.faults.seed) {
    flash_.LoadRecords(config_.points, config_.pointsStart);
    if (config_.versionText && !config_.versionText->empty()) {
        versionTexts_[mode_] = *config_.versionText;
    }
}

DeviceModel::~DeviceModel() = default;
DeviceModel::DeviceModel(DeviceModel&&) noexcept = default;
DeviceModel& DeviceModel::operator=(DeviceModel&&) noexcept = default;

std::string DeviceModel::VersionText() const {
    auto it = versionTexts_.find(mode_);
    return it != versionTexts_.end() ? it->second : DefaultVersionText(mode_);
}

void DeviceModel::SetVersionText(std::string text) {
    SetVersionText(mode_, std::move(text));
}

void DeviceModel::SetVersionText(DeviceMode mode, std::string text) {
    versionTexts_[mode] = std::move(text);
}

void DeviceModel::ClearVersionTexts() {
    versionTexts_.clear();
}

FeedResult DeviceModel::Feed(std::span<const uint8_t> bytes, uint32_t nowMs) {
    FeedResult out;
    size_t pos = 0;
    while (pos < bytes.size() && !vanished_) {
        if (receiver_) {
            AddReceiverOutput(out, receiver_->OnBytes(bytes.subspan(pos), nowMs));
            DropFinishedReceiver();
            break;
        }
        size_t n = std::min(kFeedStep, bytes.size() - pos);
        pending_.insert(pending_.end(), bytes.begin() + pos, bytes.begin() + pos + n);
        pos += n;
        ProcessPending(out, nowMs);
    }
    return out;
}

FeedResult DeviceModel::Timer(uint32_t nowMs) {
    FeedResult out;
    if (receiver_ && !vanished_) {
        AddReceiverOutput(out, receiver_->OnTimer(nowMs));
        DropFinishedReceiver();
    }
    return out;
}

std::optional<uint32_t> DeviceModel::TimerIntervalMs() const {
    if (!receiver_ || vanished_) return std::nullopt;
    return std::max<uint32_t>(1, receiver_->TimerIntervalMs());
}

void DeviceModel::ProcessPending(FeedResult& out, uint32_t nowMs) {
    size_t off = 0;
    while (off < pending_.size()) {
        FUR_DATA r{};
        r.status = PARSE_NO_FRAME;
        uint32_t count =
            static_cast<uint32_t>(std::min<size_t>(pending_.size() - off, kFurMaxParseCount));
        uint32_t used = parsefur(pending_.data() + off, count, &r);
        if (used == 0) break;  // the start of a frame: wait for the rest
        if (r.status == PARSE_OK || r.status == PARSE_UNKNOWN_CMD) {
            const uint8_t* start = pending_.data() + off + r.payloadOffset - kFurPayloadOffset;
            Frame frame{
                start[2],
                start[3],
                {pending_.data() + off + r.payloadOffset, static_cast<size_t>(r.payloadLength)}};
            HandleFrame(frame, out);
        } else if (r.status == PARSE_BAD_CHECKSUM) {
            ++badFrames_;
        }
        off += used;
        if (vanished_) {
            off = pending_.size();  // a vanished device hears nothing more
        } else if (receiver_ && off < pending_.size()) {
            // What followed the update command belongs to the receiver.
            std::span<const uint8_t> rest(pending_.data() + off, pending_.size() - off);
            AddReceiverOutput(out, receiver_->OnBytes(rest, nowMs));
            DropFinishedReceiver();
            off = pending_.size();
        }
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(off));
}

void DeviceModel::HandleFrame(const Frame& frame, FeedResult& out) {
    const uint32_t n = ++framesReceived_;
    Journalize(frame);
    const FaultConfig& f = config_.faults;
    if (f.silentAfter && n > *f.silentAfter) {
        // Hung: the frame arrived (journal) but nothing happens.
    } else if (std::find(f.nakFrames.begin(), f.nakFrames.end(), n) != f.nakFrames.end()) {
        Acknowledge(out, false, frame.cls, frame.id);
    } else {
        Execute(frame, out);
    }
    if (f.vanishAfter && n >= *f.vanishAfter) {
        vanished_ = true;
        out.vanish = true;
    }
}

void DeviceModel::Execute(const Frame& frame, FeedResult& out) {
    const size_t n = frame.payload.size();
    switch (Code(frame.cls, frame.id)) {
        case 0x0A04:  // version request; 32 bytes or more would be a version reply
            if (n < 32) {
                std::string text = VersionText();
                std::vector<uint8_t> payload(text.begin(), text.end());
                if (payload.size() < kVersionPayloadSize) payload.resize(kVersionPayloadSize, 0);
                if (payload.size() > kMaxPayload) payload.resize(kMaxPayload);
                AddReply(out, MakeFrame(VERSION_DATA, payload), false);
            }
            break;
        case 0x0A07:  // boot memory request
            if (n == 0) AddReply(out, MakeFrame(BOOTMEM_DATA, bootMemory_), false);
            break;
        case 0xF405:
            HandleProgram(frame, out);
            break;
        case 0xF406:
            if (n >= sizeof(FUR_PACKET_BOOT2_RUN)) HandleRun(frame, out);
            break;
        case 0xF430:  // the plain boot loader cannot talk to the flash chip
            if (n == 0 && mode_ != DeviceMode::Boot) {
                AddReply(out, MakeFrame(BOOT2_SPINORID_DATA, config_.spinorId), false);
            }
            break;
        case 0xF431:
            if (n >= sizeof(FUR_PACKET_BOOT2_SPINORRD_POLL) && mode_ != DeviceMode::Boot) {
                HandleSpinorRead(frame, out);
            }
            break;
        case 0x0640:
            if (n >= sizeof(FUR_PACKET_CFG_SIMPLERST)) Reset();
            break;
        case 0x0609:
            if (n >= sizeof(FUR_PACKET_CFG_CFG)) Acknowledge(out, true, frame.cls, frame.id);
            break;
        case 0x0650:
            if (n >= sizeof(FUR_PACKET_CFG_FWUP)) {
                Acknowledge(out, true, frame.cls, frame.id);
                ymodemRequested_ = true;
                if (receiverFactory_) receiver_ = receiverFactory_();
            }
            break;
        default:
            break;
    }
}

bool DeviceModel::MayWrite(uint32_t address, uint32_t length) const {
    switch (mode_) {
        case DeviceMode::Boot:
            return Inside(kRamArea, address, length) || Inside(kFirmwareArea, address, length);
        case DeviceMode::Patch:
            return Inside(kRamArea, address, length) || Inside(kCourseArea, address, length);
        case DeviceMode::Normal:
            return Inside(kCourseArea, address, length);
    }
    return false;
}

void DeviceModel::HandleProgram(const Frame& frame, FeedResult& out) {
    if (frame.payload.size() < sizeof(FUR_PACKET_BOOT2_FWPG)) {
        Acknowledge(out, false, frame.cls, frame.id);
        return;
    }
    const uint32_t address = ReadU32(frame.payload, 0);
    std::span<const uint8_t> data = frame.payload.subspan(sizeof(FUR_PACKET_BOOT2_FWPG));
    const auto length = static_cast<uint32_t>(data.size());
    if (address == 0 && length == kBootMemorySize) {
        std::copy(data.begin(), data.end(), bootMemory_.begin());
        written_.Write(address, data);
        Acknowledge(out, true, frame.cls, frame.id);
        return;
    }
    // Flash takes 16-bit units: an odd block means the sender forgot its pad byte.
    if (length % 2 != 0 || !MayWrite(address, length)) {
        Acknowledge(out, false, frame.cls, frame.id);
        return;
    }
    written_.Write(address, data);
    if (Inside(kRamArea, address, length)) ram_.Write(address, data);
    Acknowledge(out, true, frame.cls, frame.id);
}

void DeviceModel::HandleRun(const Frame& frame, FeedResult& out) {
    const uint32_t address = ReadU32(frame.payload, 0);
    Acknowledge(out, true, frame.cls, frame.id);
    if (mode_ != DeviceMode::Boot || address != kPatchEntryAddress) return;
    if (!ram_.Covers(kPatchLoadAddress, kPatchImageSize)) return;
    if (!config_.requiredPatchImage.empty() &&
        ram_.Read(kPatchLoadAddress, static_cast<uint32_t>(config_.requiredPatchImage.size())) !=
            config_.requiredPatchImage) {
        return;
    }
    mode_ = DeviceMode::Patch;
}

void DeviceModel::HandleSpinorRead(const Frame& frame, FeedResult& out) {
    const uint32_t address = ReadU32(frame.payload, 0);
    const uint16_t length = ReadU16(frame.payload, 4);
    if (length > kMaxPayload) {
        Acknowledge(out, false, frame.cls, frame.id);
        return;
    }
    AddReply(out, MakeFrame(BOOT2_SPINORRD_DATA, flash_.Read(address, length)), false);
}

void DeviceModel::Reset() {
    mode_ = DeviceMode::Normal;
    ram_.Clear();
    receiver_.reset();
    ymodemRequested_ = false;
    ++resetCount_;
}

void DeviceModel::Journalize(const Frame& frame) {
    JournalEntry e;
    e.sequence = framesReceived_;
    e.msgClass = frame.cls;
    e.msgId = frame.id;
    e.payloadLength = static_cast<uint32_t>(frame.payload.size());
    if (journalPayloadBytes_ + frame.payload.size() <= config_.journalPayloadLimit) {
        e.payload.assign(frame.payload.begin(), frame.payload.end());
        journalPayloadBytes_ += frame.payload.size();
    } else {
        e.payloadDropped = !frame.payload.empty();
    }
    journal_.push_back(std::move(e));
}

void DeviceModel::AddReply(FeedResult& out, std::vector<uint8_t> frame, bool acknowledgement) {
    const FaultConfig& f = config_.faults;
    Reply r;
    r.bytes = Noise();
    r.bytes.insert(r.bytes.end(), frame.begin(), frame.end());
    r.delayMs = (acknowledgement && f.ackDelayMs) ? *f.ackDelayMs : f.delayMs;
    r.splitBytes = f.splitBytes;
    r.splitGapMs = f.splitGapMs;
    r.acknowledgement = acknowledgement;
    out.replies.push_back(std::move(r));
}

void DeviceModel::Acknowledge(FeedResult& out, bool positive, uint8_t cls, uint8_t id) {
    FUR_PACKET_ACK_ACK ack{cls, id};
    AddReply(out, MakeFrame(positive ? ACK_ACK : ACK_NAK, RecordBytes(ack)), true);
}

void DeviceModel::AddReceiverOutput(FeedResult& out, std::vector<uint8_t> bytes) {
    if (!bytes.empty()) AddReply(out, std::move(bytes), false);
}

void DeviceModel::DropFinishedReceiver() {
    if (receiver_ && receiver_->Finished()) receiver_.reset();
}

std::vector<uint8_t> DeviceModel::Noise() {
    std::vector<uint8_t> noise;
    noise.reserve(config_.faults.noiseBytes);
    while (noise.size() < config_.faults.noiseBytes) {
        // splitmix64: small, fast, and the same on every platform.
        uint64_t z = (noiseState_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        auto b = static_cast<uint8_t>(z);
        // Noise must never hold a sync pair, or it could swallow the reply behind it.
        if (b == kFurSync1 && !noise.empty() && noise.back() == kFurSync0) continue;
        noise.push_back(b);
    }
    return noise;
}

}  // namespace sim
