#pragma once
// Device code the owner supplies (the patch program, the boot programs): found in a fixed
// order, checked, and never replaced by a stand-in unless stand-ins are allowed.
//
// Order: the command-line option, the environment variable, then the folders (the user's
// configuration folder, the program's folder, the system data folder) by file name. A file
// named by the option or the variable must be right: a wrong one is refused, not skipped. A
// file equal to the repository's stand-in counts as a stand-in wherever it was found.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace images {

// Where to look; every value comes from the entry point, nothing is read here.
struct ImageSearch {
    std::string option;                // the option's file, empty when not given
    std::string environment;           // the environment variable's value, empty when unset
    std::vector<std::string> folders;  // in order; empty entries are skipped
    bool allowStandIn = false;         // CADDORA_ALLOW_STAND_IN=1: demo, tests, virtual device
};

// What one image is.
struct ImageKind {
    std::string description;  // "the patch program"
    std::string fileName;     // looked for in the folders
    std::size_t size = 0;
    // Empty when the fixed words are right, else what is wrong.
    std::function<std::string(std::span<const uint8_t>)> checkWords;
    std::span<const uint8_t> standIn;  // the repository's stand-in
    std::string optionName;            // "--patch-image"
    std::string environmentName;       // "CADDORA_PATCH_IMAGE"
};

struct FoundImage {
    std::vector<uint8_t> bytes;
    std::string source;  // the file, or "stand-in"
    bool standIn = false;
    std::string refusal;  // empty when found; else names the file and where to put it
    bool ok() const { return refusal.empty(); }
};

FoundImage FindDeviceImage(const ImageKind& kind, const ImageSearch& search);

// The folders in their order: "<config>/caddora", the program's folder, "<data>/caddora".
// `configHome` is $XDG_CONFIG_HOME or "$HOME/.config"; `dataDir` e.g. "/usr/share".
std::vector<std::string> ImageFolders(const std::string& configHome,
                                      const std::string& programFolder, const std::string& dataDir);

// The little-endian word at `offset`.
uint32_t ImageWord(std::span<const uint8_t> bytes, std::size_t offset);

}  // namespace images

namespace images {

inline constexpr const char* kPatchImageFile = "patch_image.bin";

// The patch program: 14,604 bytes, not blank (all 0x00 or all 0xFF would be an erased dump).
ImageKind PatchImageKind();

}  // namespace images
