#pragma once
// What runs on the navigator, as its version text tells: "E3" the patch program, "BOOT" or
// "boot" the boot loader, any other text the normal firmware. The window logic's mode queries
// and `caddora-cli devices` both decide by these tests.
#include <optional>
#include <span>
#include <string>
#include <string_view>

enum class NavigatorMode { BootLoader, PatchProgram, NormalFirmware, NotAnswering, CannotOpen };

// The boot stage (boot loader, or the patch program inside it): "BOOT" or "boot".
bool IsBootStageText(std::span<const uint8_t> versionText);
// The patch program: "E3".
bool IsPatchProgramText(std::span<const uint8_t> versionText);

// The mode a version text (or its absence) tells.
NavigatorMode ModeOfVersionText(const std::optional<std::string>& text);

// "boot loader", "patch program", "normal firmware", "not answering", "cannot open".
const char* NavigatorModeName(NavigatorMode mode);
// Short form for scripts: "boot", "patch", "normal", "silent", "busy".
const char* NavigatorModeKey(NavigatorMode mode);
