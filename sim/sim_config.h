#pragma once
// Settings of the virtual navigator: what it runs, what its flash holds, and the faults it
// injects.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/point_records.h"
#include "sim/spinor_flash.h"

namespace sim {

// What the navigator runs: its boot loader, the RAM patch program the tool loads into the boot
// loader, or its normal firmware. Each announces itself by its version text.
enum class DeviceMode { Boot, Patch, Normal };

const char* DeviceModeName(DeviceMode mode);  // "boot", "patch", "normal"
std::optional<DeviceMode> ParseDeviceMode(std::string_view name);
// "MDL4200 BOOT V2.10", "MDL4200 E3 PATCH V1.02", "MDL4200 FW V3.05".
std::string DefaultVersionText(DeviceMode mode);

// Faults, counted in good frames (checksums right, known command or not): the first good frame
// after start is frame 1. Frames with bad checksums neither count nor get an answer.
struct FaultConfig {
    // Each listed frame is refused with ACK_NAK answering its own class and id, whatever it
    // was, and is not carried out.
    std::vector<uint32_t> nakFrames;
    // Frames after this many are neither answered nor carried out (the device hangs). 0 means
    // the device never answers.
    std::optional<uint32_t> silentAfter;
    // Every reply waits this long after the frame arrived.
    uint32_t delayMs = 0;
    // When set, acknowledgements (ACK_ACK, ACK_NAK) wait this long instead of delayMs.
    std::optional<uint32_t> ackDelayMs;
    // Each reply is written in pieces of this many bytes, splitGapMs apart (0: one write).
    uint32_t splitBytes = 0;
    uint32_t splitGapMs = 5;
    // Random bytes before every reply; they never contain the sync pair F1 D9.
    uint32_t noiseBytes = 0;
    // After the reply to this frame the device disappears: the link is removed and the pty
    // closed. Must be 1 or more.
    std::optional<uint32_t> vanishAfter;
    // Seed of the noise generator.
    uint64_t seed = 1;
};

struct DeviceConfig {
    DeviceMode mode = DeviceMode::Boot;
    // Version text of the starting mode; the default text of the mode when empty.
    std::optional<std::string> versionText;
    std::array<uint8_t, 4> spinorId = kDefaultSpinorId;
    uint32_t flashSize = SpiNorFlash::kDefaultSize;
    // Point records written to the SPI-NOR flash from pointsStart; the built-in sample by
    // default.
    std::vector<PointRecordBytes> points = EncodePointRecords(SamplePoints());
    uint32_t pointsStart = 0;
    // When not empty, the patch program only starts if exactly these bytes arrived at its load
    // address; otherwise any complete image starts it.
    std::vector<uint8_t> requiredPatchImage;
    // Payload bytes the journal keeps in all; later entries keep only their header.
    size_t journalPayloadLimit = size_t{256} << 20;
    FaultConfig faults;
};

}  // namespace sim
