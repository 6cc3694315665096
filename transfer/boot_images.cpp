#include "transfer/boot_images.h"

#include "transfer/boot_block.h"
#include "transfer/boot_program.h"

namespace transfer {

namespace {

constexpr uint32_t kInitialStack = 0x00040000;
constexpr std::size_t kClockWordOffset = 1076;

}  // namespace

images::ImageSpec BootProgramSpec(uint32_t referenceClock) {
    const bool fast = referenceClock == kReferenceClock26MHz;
    const uint32_t clock = fast ? kReferenceClock26MHz : kReferenceClock16369kHz;
    images::ImageSpec spec;
    spec.description = fast ? "the 26 MHz boot program" : "the 16.369 MHz boot program";
    spec.fileName = fast ? "boot_26mhz.bin" : "boot_16369khz.bin";
    spec.size = kBootCodeSize;
    spec.checkWords = [clock](std::span<const uint8_t> bytes) -> std::string {
        if (images::ImageWord(bytes, 0) != kInitialStack) return "no stack pointer 0x00040000 at 0";
        if (images::ImageWord(bytes, 4) != kBootEntryAddress) return "no entry 0x00024125 at 4";
        if (images::ImageWord(bytes, kClockWordOffset) != clock) {
            return "not the variant for " + std::to_string(clock) + " Hz (word at 1,076)";
        }
        return {};
    };
    spec.standIn = BootProgramFor(referenceClock);
    spec.optionName = "--boot-program";
    spec.environmentName = "CADDORA_BOOT_PROGRAM";
    return spec;
}

}  // namespace transfer
