#pragma once
// Loads the RAM patch program into a navigator in its boot stage: the image goes out in
// numbered BOOT2_FWPG packets of 1,024 bytes to 0x26000 onward, each acknowledged before the
// next, then BOOT2_RUN starts it at the entry address. Runs on a job's worker thread and blocks
// it for the whole upload (at most 15 x 3,050 ms + 1,050 ms).
//
// Shape: `sendPatchFile` takes a context that carries what the window's member uses: its
// receive buffer (`SendPort`), the entry-address text of the hidden box that `type` selects
// ("2622d"), references to the two counters it sets, and the progress callback. `Main`
// delegates:
//
//     int32_t Main::sendPatchFile() {
//         return ::sendPatchFile({.SendPort = <SendPort>,
//                                 .entryAddressText = <textBoxPathUp or textBoxPathKro>,
//                                 .TotalPacketNum = TotalPacketNum,
//                                 .progressMax = progressMax,
//                                 .UpdateProgressDelegate = <post UpdateProgress(i)>});
//     }
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "protocol/patch_image.h"
#include "transport/fifo_stream.h"

inline constexpr int32_t PatchFirmwareMaxPacketLen = 1024;
inline constexpr uint32_t kPatchLoadAddress = 0x26000;
// Time each packet's acknowledgement may take (WaitForAck adds its 50 ms margin).
inline constexpr uint32_t kPatchPacketTimeoutMs = 3000;
// Time the run command's acknowledgement may take.
inline constexpr uint32_t kPatchRunTimeoutMs = 1000;

// Results of sendPatchFile.
inline constexpr int32_t kPatchStarted = 1;
inline constexpr int32_t kPatchFailed = 2;

struct PatchUploadContext {
    // The connection's receive buffer; null fails the upload at once.
    FIFOStream* SendPort = nullptr;
    // Entry address as hexadecimal text, as the hidden settings box holds it ("2622d").
    std::string entryAddressText;
    // Set to the number of packets before the first is sent.
    int32_t& TotalPacketNum;
    int32_t& progressMax;
    // Receives i after packet i is acknowledged (0 to 14 for the real image); may be empty.
    std::function<void(int32_t)> UpdateProgressDelegate;
    // The image to load: the owner-supplied patch program (protocol/device_images.h). Empty
    // fails the upload before anything is sent.
    std::span<const uint8_t> image;
};

// Sends the image and starts it. Returns 1 when every packet and the run command were
// acknowledged, 2 as soon as one was refused or not answered in time (no retry). An entry
// address text that is not hexadecimal fails the upload before anything is sent.
int32_t sendPatchFile(const PatchUploadContext& context);

// The entry-address text as a number: 1 to 8 hexadecimal digits, optionally after "0x",
// surrounding blanks ignored. Nothing for anything else.
std::optional<uint32_t> ParsePatchEntryAddress(std::string_view text);
