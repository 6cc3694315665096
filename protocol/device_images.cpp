#include "protocol/device_images.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/utf8_paths.h"

namespace images {

namespace {

std::string WithThousands(std::size_t n) {
    std::string digits = std::to_string(n);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<std::size_t>(at), 1, ',');
    }
    return digits;
}

// Empty when `path` holds the image, else why not. A directory, device or pipe is refused
// before it is opened, so a pipe cannot hold the search.
std::string Load(const ImageKind& kind, const std::string& path, std::vector<uint8_t>& bytes) {
    const std::filesystem::path file = platform::PathFromUtf8(path);
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    if (ec || !std::filesystem::exists(status)) return path + " does not exist";
    if (!std::filesystem::is_regular_file(status)) return path + " is not a regular file";
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) return "cannot read " + path + ": " + ec.message();
    if (size != kind.size) {
        return path + " has " + WithThousands(static_cast<std::size_t>(size)) + " bytes, not " +
               WithThousands(kind.size);
    }
    std::ifstream in(file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    if (!in.good() && !in.eof()) return "cannot read " + path;
    if (bytes.size() != kind.size) return "cannot read all of " + path;
    if (kind.checkWords) {
        if (std::string wrong = kind.checkWords(bytes); !wrong.empty()) {
            return path + " is not " + kind.description + ": " + wrong;
        }
    }
    return {};
}

bool IsStandIn(const ImageKind& kind, const std::vector<uint8_t>& bytes) {
    return !kind.standIn.empty() &&
           std::equal(bytes.begin(), bytes.end(), kind.standIn.begin(), kind.standIn.end());
}

std::string WhereToPut(const ImageKind& kind, const ImageSearch& search) {
    std::string text = "give it with " + kind.optionName + " FILE, set " + kind.environmentName +
                       ", or put it as " + kind.fileName + " in ";
    std::vector<std::string> folders;
    for (const auto& f : search.folders) {
        if (!f.empty()) folders.push_back(f);
    }
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (i > 0) text += i + 1 == folders.size() ? " or " : ", ";
        text += folders[i];
    }
    return text + " (README: \"Device images\")";
}

FoundImage Refuse(const ImageKind& kind, const ImageSearch& search, const std::string& why) {
    FoundImage found;
    found.refusal = kind.description + " (" + kind.fileName + ", " + WithThousands(kind.size) +
                    " bytes, from the navigator's maintenance package) " + why + "; " +
                    WhereToPut(kind, search);
    return found;
}

}  // namespace

uint32_t ImageWord(std::span<const uint8_t> bytes, std::size_t offset) {
    if (offset + 4 > bytes.size()) return 0;
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

std::vector<std::string> ImageFolders(const std::string& configHome,
                                      const std::string& programFolder,
                                      const std::string& dataDir) {
    std::vector<std::string> folders;
    if (!configHome.empty()) folders.push_back(configHome + "/caddora");
    if (!programFolder.empty()) folders.push_back(programFolder);
    if (!dataDir.empty()) folders.push_back(dataDir + "/caddora");
    return folders;
}

FoundImage FindDeviceImage(const ImageKind& kind, const ImageSearch& search) {
    FoundImage found;
    auto accept = [&](const std::string& path, std::vector<uint8_t> bytes) -> FoundImage {
        if (IsStandIn(kind, bytes) && !search.allowStandIn) {
            return Refuse(kind, search,
                          "was not found: " + path +
                              " is the repository's stand-in, not device "
                              "code (allowed only with CADDORA_ALLOW_STAND_IN=1)");
        }
        FoundImage image;
        image.standIn = IsStandIn(kind, bytes);
        image.bytes = std::move(bytes);
        image.source = path;
        return image;
    };
    // A file the user named must be the right one.
    for (const auto& [named, how] : {std::pair{search.option, kind.optionName},
                                     std::pair{search.environment, kind.environmentName}}) {
        if (named.empty()) continue;
        std::vector<uint8_t> bytes;
        if (std::string why = Load(kind, named, bytes); !why.empty()) {
            return Refuse(kind, search, "given by " + how + " is unusable: " + why);
        }
        return accept(named, std::move(bytes));
    }
    std::string lastProblem;
    for (const auto& folder : search.folders) {
        if (folder.empty()) continue;
        const std::string path = folder + "/" + kind.fileName;
        std::error_code ec;
        if (!std::filesystem::exists(platform::PathFromUtf8(path), ec)) continue;
        std::vector<uint8_t> bytes;
        if (std::string why = Load(kind, path, bytes); !why.empty()) {
            lastProblem = why;
            continue;
        }
        return accept(path, std::move(bytes));
    }
    if (search.allowStandIn && !kind.standIn.empty()) {
        found.bytes.assign(kind.standIn.begin(), kind.standIn.end());
        found.source = "stand-in";
        found.standIn = true;
        return found;
    }
    return Refuse(
        kind, search,
        lastProblem.empty() ? std::string("was not found") : "was not found (" + lastProblem + ")");
}

}  // namespace images

#include "protocol/patch_image.h"

namespace images {

ImageKind PatchImageKind() {
    ImageKind kind;
    kind.description = "the patch program";
    kind.fileName = kPatchImageFile;
    kind.size = kPatchImageLength;
    kind.checkWords = [](std::span<const uint8_t> bytes) -> std::string {
        const bool blank =
            std::all_of(bytes.begin(), bytes.end(), [&](uint8_t b) { return b == bytes.front(); });
        return blank ? "every byte is the same (an erased or empty dump)" : "";
    };
    kind.standIn = PatchImageBytes();
    kind.optionName = "--patch-image";
    kind.environmentName = "CADDORA_PATCH_IMAGE";
    return kind;
}

}  // namespace images
