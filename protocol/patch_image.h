#pragma once
// The RAM patch program the tool loads into a navigator in its boot stage, embedded at build
// time from protocol/data/patch_image.bin (see the README there: until the image supplied for
// the device arrives, that file is a stand-in of the same length).
#include <cstddef>
#include <cstdint>
#include <span>

extern const unsigned char PatchImage[];
extern const std::size_t PatchImage_size;

// Length of the patch program image.
inline constexpr std::size_t kPatchImageLength = 14604;

inline std::span<const uint8_t> PatchImageBytes() {
    return {reinterpret_cast<const uint8_t*>(PatchImage), PatchImage_size};
}
