#pragma once
// What the entry points read once about device images, and the lookups built from it. Nothing
// below the entry point reads the environment.
#include <cstdint>
#include <string>

#include "protocol/device_images.h"

struct DeviceImageSetup {
    std::string patchImageVariable;   // CADDORA_PATCH_IMAGE
    std::string bootProgramVariable;  // CADDORA_BOOT_PROGRAM
    bool allowStandIn = false;        // CADDORA_ALLOW_STAND_IN=1
    std::string configHome;           // $XDG_CONFIG_HOME, else $HOME/.config
    std::string programFolder;
    std::string dataDir = "/usr/share";

    // From the values of the environment variables (null when unset).
    static DeviceImageSetup From(const char* patchImage, const char* bootProgram,
                                 const char* allowStandIn, const char* xdgConfigHome,
                                 const char* home, std::string programFolder);

    images::FoundImage PatchImage(const std::string& option) const;
    images::FoundImage BootProgram(const std::string& option, uint32_t referenceClock) const;
};
