#include "protocol/device_mode.h"

#include <algorithm>
#include <cstdint>

namespace {

bool Contains(std::span<const uint8_t> bytes, std::string_view text) {
    const auto* first = reinterpret_cast<const uint8_t*>(text.data());
    return std::search(bytes.begin(), bytes.end(), first, first + text.size()) != bytes.end();
}

std::span<const uint8_t> Bytes(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace

bool IsBootStageText(std::span<const uint8_t> versionText) {
    return Contains(versionText, "BOOT") || Contains(versionText, "boot");
}

bool IsPatchProgramText(std::span<const uint8_t> versionText) {
    return Contains(versionText, "E3");
}

NavigatorMode ModeOfVersionText(const std::optional<std::string>& text) {
    if (!text) return NavigatorMode::NotAnswering;
    // The patch program runs inside the boot stage, so its mark is looked for first.
    if (IsPatchProgramText(Bytes(*text))) return NavigatorMode::PatchProgram;
    if (IsBootStageText(Bytes(*text))) return NavigatorMode::BootLoader;
    return NavigatorMode::NormalFirmware;
}

const char* NavigatorModeName(NavigatorMode mode) {
    switch (mode) {
        case NavigatorMode::BootLoader:
            return "boot loader";
        case NavigatorMode::PatchProgram:
            return "patch program";
        case NavigatorMode::NormalFirmware:
            return "normal firmware";
        case NavigatorMode::NotAnswering:
            return "not answering";
        case NavigatorMode::CannotOpen:
            return "cannot open";
    }
    return "?";
}

const char* NavigatorModeKey(NavigatorMode mode) {
    switch (mode) {
        case NavigatorMode::BootLoader:
            return "boot";
        case NavigatorMode::PatchProgram:
            return "patch";
        case NavigatorMode::NormalFirmware:
            return "normal";
        case NavigatorMode::NotAnswering:
            return "silent";
        case NavigatorMode::CannotOpen:
            return "busy";
    }
    return "?";
}
