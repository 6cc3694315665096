#include "transfer/device_image_setup.h"

#include "transfer/boot_images.h"

DeviceImageSetup DeviceImageSetup::From(const char* patchImage, const char* bootProgram,
                                        const char* allowStandIn, const char* xdgConfigHome,
                                        const char* home, std::string programFolder) {
    DeviceImageSetup setup;
    setup.patchImageVariable = patchImage ? patchImage : "";
    setup.bootProgramVariable = bootProgram ? bootProgram : "";
    setup.allowStandIn = allowStandIn && std::string(allowStandIn) == "1";
    if (xdgConfigHome && *xdgConfigHome) {
        setup.configHome = xdgConfigHome;
    } else if (home && *home) {
        setup.configHome = std::string(home) + "/.config";
    }
    setup.programFolder = std::move(programFolder);
    return setup;
}

images::FoundImage DeviceImageSetup::PatchImage(const std::string& option) const {
    return images::FindDeviceImage(
        images::PatchImageKind(),
        {option, patchImageVariable, images::ImageFolders(configHome, programFolder, dataDir),
         allowStandIn});
}

images::FoundImage DeviceImageSetup::BootProgram(const std::string& option,
                                                 uint32_t referenceClock) const {
    return images::FindDeviceImage(
        transfer::BootProgramKind(referenceClock),
        {option, bootProgramVariable, images::ImageFolders(configHome, programFolder, dataDir),
         allowStandIn});
}
